#include "platform/loaded_code.h"

#include "platform/win32_support.h"

namespace fw {

bool librariesBesideProgram() { return true; }

std::string programFolder() {
    // Long paths need more than MAX_PATH; the call truncates silently
    // rather than fail, so the buffer grows until the name fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return "";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::string self = win32::narrow(path);
    const std::size_t end = self.find_last_of("\\/");
    return end == std::string::npos ? "" : self.substr(0, end + 1);
}

bool isFullPath(const std::string& path) { return win32::rootLength(path) >= 3; }

bool keepLibraryLoaded(const std::string& path, std::string* why) {
    // Never freed: the engine and the keys it made live until the process ends.
    const HMODULE module = ::LoadLibraryExW(win32::wide(path).c_str(), nullptr,
                                            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                                                LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    if (module == nullptr) {
        *why = win32::reasonOf(::GetLastError());
        return false;
    }
    return true;
}

}  // namespace fw
