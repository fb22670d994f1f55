// Where the pkcs11 engine and the token's PKCS#11 module are loaded from.
// Only from a full path the user names in FWINSPECT_PKCS11_ENGINE or
// FWINSPECT_PKCS11_MODULE, or else from where the system keeps its own:
// beside fwinspect.exe on Windows (pkcs11.dll, pkcs11-module.dll), and on
// Linux libcrypto's engines folder and the engine's default module
// (p11-kit's proxy), both in folders only root writes. Never by a bare
// name, which Windows would look for in the working folder too.
#pragma once

#include <string>

namespace fw {

inline constexpr const char* engineVariable = "FWINSPECT_PKCS11_ENGINE";
inline constexpr const char* moduleVariable = "FWINSPECT_PKCS11_MODULE";

struct TokenLibraries {
    std::string engine;  // a full path; empty: libcrypto's engines folder
    std::string module;  // a full path; empty: the engine's default module
};

// False, with the reason, when a variable is set to anything but a full path.
bool chooseTokenLibraries(TokenLibraries& chosen, std::string* why);

}  // namespace fw
