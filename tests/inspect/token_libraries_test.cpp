// Which engine and module fwinspect would load for a PKCS#11 key: a full
// path named in the environment, else the system's own (Linux) or the file
// beside the program (Windows); anything but a full path is refused.
#include "inspect/token_libraries.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/loaded_code.h"

namespace {

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    if (value.empty()) ::unsetenv(name);
    else ::setenv(name, value.c_str(), 1);
#endif
}

#ifdef _WIN32
const std::string kFull = "C:\\tokens\\x.dll";
const char* const kNotFull[] = {"x.dll", "tokens\\x.dll", "\\tokens\\x.dll", "C:x.dll"};
#else
const std::string kFull = "/opt/tokens/x.so";
const char* const kNotFull[] = {"x.so", "tokens/x.so", "./x.so"};
#endif

TEST(TokenLibraries, FullPathsNamedInTheEnvironmentElseTheSystemsOwnOrBesideTheProgram) {
    const std::string beside = fw::librariesBesideProgram() ? fw::programFolder() : "";
    const struct {
        std::string engine, module;  // the variables; empty: not set
        std::string chosenEngine, chosenModule;
    } cases[] = {
        {"", "", beside.empty() ? "" : beside + "pkcs11.dll", beside.empty() ? "" : beside + "pkcs11-module.dll"},
        {kFull, "", kFull, beside.empty() ? "" : beside + "pkcs11-module.dll"},
        {"", kFull, beside.empty() ? "" : beside + "pkcs11.dll", kFull},
    };
    for (const auto& c : cases) {
        setVariable(fw::engineVariable, c.engine);
        setVariable(fw::moduleVariable, c.module);
        fw::TokenLibraries chosen;
        std::string why;
        EXPECT_TRUE(fw::chooseTokenLibraries(chosen, &why)) << why;
        EXPECT_EQ(chosen.engine, c.chosenEngine);
        EXPECT_EQ(chosen.module, c.chosenModule);
    }
    for (const char* variable : {fw::engineVariable, fw::moduleVariable}) {
        for (const char* path : kNotFull) {
            setVariable(fw::engineVariable, "");
            setVariable(fw::moduleVariable, "");
            setVariable(variable, path);
            fw::TokenLibraries chosen;
            std::string why;
            EXPECT_FALSE(fw::chooseTokenLibraries(chosen, &why)) << variable << "=" << path;
            EXPECT_EQ(why, std::string(variable) + " must name a file by its full path, not \"" + path + "\"");
        }
    }
    setVariable(fw::engineVariable, "");
    setVariable(fw::moduleVariable, "");
}

}  // namespace
