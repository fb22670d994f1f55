#include "inspect/signature/token_libraries.h"

#include "inspect/text/plain_text.h"
#include "platform/loaded_code.h"
#include "platform/process_start.h"

namespace fw {
namespace {

// The variable's full path; else the file beside the program where
// libraries stand there; else empty, for the system's own.
bool choose(const char* variable, const char* besideProgram, std::string& path, std::string* why) {
    std::string named;
    if (environmentValue(variable, &named) && !named.empty()) {
        if (!isFullPath(named)) {
            *why = std::string(variable) + " must name a file by its full path, not \"" + escapePath(named) + "\"";
            return false;
        }
        path = named;
    } else if (librariesBesideProgram()) {
        const std::string folder = programFolder();
        if (folder.empty()) {
            *why = std::string("the folder of fwinspect is not known; ") + variable + " names the file instead";
            return false;
        }
        path = folder + besideProgram;
    } else {
        path.clear();
    }
    return true;
}

}  // namespace

bool chooseTokenLibraries(TokenLibraries& chosen, std::string* why) {
    return choose(engineVariable, "pkcs11.dll", chosen.engine, why) &&
           choose(moduleVariable, "pkcs11-module.dll", chosen.module, why);
}

}  // namespace fw
