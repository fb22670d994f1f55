// How this system's command shell and terminal read what the tools print:
// an argument quoted so that pasting the line passes it to the program as
// itself, and which bytes of a path are its separators, shown as they are.
#pragma once

#include <string>

namespace fw {

// Whether `text` can be quoted for this system's shell at all: on Windows
// cmd.exe passes no control character; on POSIX every byte can be.
bool shellCanQuote(const std::string& text);

// One argument quoted for this system's shell, unchanged when it needs no
// quotes. POSIX sh: '...', or $'...' with \xNN escapes when the text holds
// bytes outside printable ASCII, so nothing raw reaches the terminal.
// cmd.exe: "..." by the C runtime's rules for the program's argv, with
// cmd's own characters (^ & | < > ( ) % ! ") escaped by ^ where quotes
// alone would not keep them.
std::string shellQuoted(const std::string& text);

// Whether `c` separates a path's folders here: '/' everywhere, also '\'
// on Windows, where a path's backslash prints as itself.
bool isPathSeparator(char c);

}  // namespace fw
