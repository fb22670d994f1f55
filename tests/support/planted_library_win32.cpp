// A stand-in for a DLL planted where fwinspect.exe must not load code from
// (pkcs11.dll, libcrypto-3-x64.dll): loading it runs its DllMain, as it
// would a planted one's, and that appends the DLL's own path to the file
// $FWTEST_LOAD_MARKER names. Built twice: as libcrypto-3-x64.dll, and as
// pkcs11.dll, which imports the first as an engine imports libcrypto.
#include <windows.h>

#ifdef FWTEST_PLANTED_ENGINE
extern "C" __declspec(dllimport) int fwtestPlantedLibcrypto();
extern "C" __declspec(dllexport) int fwtestPlantedEngine() { return fwtestPlantedLibcrypto(); }
#else
extern "C" __declspec(dllexport) int fwtestPlantedLibcrypto() { return 1; }
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char marker[MAX_PATH + 1];
    char path[MAX_PATH + 2];
    const DWORD m = ::GetEnvironmentVariableA("FWTEST_LOAD_MARKER", marker, sizeof marker);
    const DWORD n = ::GetModuleFileNameA(self, path, MAX_PATH + 1);
    if (m == 0 || m > MAX_PATH || n == 0 || n > MAX_PATH) return TRUE;
    path[n] = '\n';
    const HANDLE f = ::CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return TRUE;
    DWORD written = 0;
    ::WriteFile(f, path, n + 1, &written, nullptr);
    ::CloseHandle(f);
    return TRUE;
}
