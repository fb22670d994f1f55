// cmd.exe first reads the line itself (its characters below, outside
// double quotes, and %VAR% and !VAR! even inside them), then the program's
// C runtime splits what is left into argv by its own rules: whitespace
// between arguments, "..." around one, backslashes literal except before
// a quote, where 2n of them are n and 2n+1 are n and a literal quote.
#include <algorithm>
#include <string_view>

#include "platform/shell_words.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

bool isCmdCharacter(char c) { return std::string_view("^&|<>()%!\"").find(c) != std::string_view::npos; }

}  // namespace

bool shellCanQuote(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

// Bytes of the ANSI code page (0x80 and over) stay as they are: the
// console shows them as its characters, and the narrow main() of the
// program run receives the same bytes.
std::string shellQuoted(const std::string& text) {
    static const std::string plainChars =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./\\=+,:@";
    if (!text.empty() && text.find_first_not_of(plainChars) == std::string::npos) return text;
    const std::string quoted = win32::argvQuoted(text);
    // Between its own quotes cmd.exe keeps every character but % and !;
    // a quote inside would end that, so then each of cmd's characters,
    // the quotes too, is escaped by ^ instead.
    const std::string inner = quoted.substr(1, quoted.size() - 2);
    if (inner.find_first_of("\"%!") == std::string::npos) return quoted;
    std::string escaped;
    for (char c : quoted) {
        if (isCmdCharacter(c)) escaped += '^';
        escaped += c;
    }
    return escaped;
}

bool isPathSeparator(char c) { return win32::isSeparator(c); }

}  // namespace fw
