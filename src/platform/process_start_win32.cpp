#include "platform/process_start.h"
#include "platform/win32_support.h"

#include <shellapi.h>

namespace fw {

// Windows 8 and later, and Windows 7 with KB2533623, have the call; where it
// is missing the system's own search order stays.
void loadLibrariesOnlyFromSystemAndProgram() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    ::SetDllDirectoryW(L"");
}

// CommandLineToArgvW splits by the rules the C runtime's argv follows, so
// every argument is the one the narrow main() would have seen, but whole.
// The narrow argv is never a stand-in: its text may have been changed.
ProgramArguments::ProgramArguments(int, char**) {
    int n = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    whole_ = wide != nullptr;
    for (int i = 0; i < n && whole_; ++i) text_.push_back(win32::narrow(wide[i]));
    if (wide != nullptr) ::LocalFree(wide);
    for (std::string& t : text_) pointers_.push_back(t.data());
    pointers_.push_back(nullptr);
}

bool environmentValue(const std::string& name, std::string* value) {
    const std::wstring w = win32::wide(name);
    const DWORD n = ::GetEnvironmentVariableW(w.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring text(n, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(w.c_str(), text.data(), n);
    if (got >= n) return false;
    text.resize(got);
    *value = win32::narrow(text);
    return true;
}

}  // namespace fw
