#include "platform/code_page.h"
#include "platform/win32_support.h"

namespace fw {

// WC_NO_BEST_FIT_CHARS keeps Windows from writing a look-alike (a for α),
// and a character still missing shows as the default character, caught by
// `usedDefault`; the bytes must also read back as the same text. A machine
// whose ANSI code page is UTF-8 takes neither flag, and needs neither.
bool nameFieldBytes(const std::string& name, std::string* bytes) {
    if (name.empty()) {
        bytes->clear();
        return true;
    }
    const std::wstring w = win32::wide(name);
    if (w.empty()) return false;
    const UINT page = ::GetACP();
    const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* const defaultUsed = page == CP_UTF8 ? nullptr : &usedDefault;
    const int size = static_cast<int>(w.size());
    const int n = ::WideCharToMultiByte(CP_ACP, flags, w.data(), size, nullptr, 0, nullptr, defaultUsed);
    if (n <= 0 || usedDefault) return false;
    std::string out(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(CP_ACP, flags, w.data(), size, out.data(), n, nullptr, defaultUsed) != n || usedDefault)
        return false;
    std::string back;
    if (!nameFieldText(out, &back) || back != name) return false;
    *bytes = out;
    return true;
}

bool nameFieldText(const std::string& bytes, std::string* name) {
    if (bytes.empty()) {
        name->clear();
        return true;
    }
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (n <= 0) return false;
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, w.data(), n) != n) return false;
    *name = win32::narrow(w);
    return true;
}

}  // namespace fw
