// fwinspect.exe loads code and configuration only from where the user
// named them or from beside itself. Stand-ins for pkcs11.dll and
// libcrypto-3-x64.dll planted in the working folder, in $OPENSSL_ENGINES
// and in the engines folder libcrypto was built with, and an openssl.cnf
// planted there, in the folder libcrypto was built to read and in
// $OPENSSL_CONF, all stay unloaded: `sign` with a pkcs11: key finds no
// engine, and `verify` still calls a good signature sound. The stand-ins
// note every load, so the tests also see that a named engine is loaded,
// with its imports from its own folder.
#include <windows.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <sstream>

#include "test_support.h"

namespace {

std::string backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string lowered(std::string path) {
    std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return std::tolower(c); });
    return backslashed(path);
}

// An environment variable the tools started meanwhile inherit.
class Variable {
public:
    Variable(const char* name, const std::string& value) : name_(name) { ::SetEnvironmentVariableA(name, value.c_str()); }
    ~Variable() { ::SetEnvironmentVariableA(name_, nullptr); }
    Variable(const Variable&) = delete;
    Variable& operator=(const Variable&) = delete;

private:
    const char* name_;
};

// A folder libcrypto was built to look in, as OpenSSL_version reports it
// (OPENSSLDIR: "..."), on the drive of `onDrive` when it names none.
std::string builtInFolder(int which, const std::string& onDrive) {
    const std::string text = OpenSSL_version(which);
    const std::size_t open = text.find('"'), close = text.rfind('"');
    if (open == std::string::npos || close <= open) return "";
    const std::string folder = backslashed(text.substr(open + 1, close - open - 1));
    return folder.size() > 1 && folder[1] == ':' ? folder : onDrive.substr(0, 2) + folder;
}

const char* const kPlanted[] = {"pkcs11.dll", "libcrypto-3-x64.dll"};

class PlantedCode : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string root = backslashed(dir.path());
    std::string work = root + "\\work";  // the working folder of every run
    std::string marker = root + "\\loaded.txt";
    std::string log = dir.file("log");
    Variable markerVariable{"FWTEST_LOAD_MARKER", marker};
    std::vector<std::string> plantedElsewhere;

    void SetUp() override {
        plantIn(work);
        plantConfiguration(work);
        // The signed package and its CA, at paths of this drive.
        const std::string data = std::string(FWTEST_DATA_DIR) + "/ed25519-sha256/";
        for (const char* name : {"ca.pem", "package.update", "package.update.sig"})
            dir.write(name, fwtest::readFile(data + name));
    }
    void TearDown() override {
        for (const std::string& file : plantedElsewhere) ::DeleteFileA(file.c_str());
    }

    void plantIn(const std::string& folder) {
        std::filesystem::create_directories(folder);
        for (const char* name : kPlanted)
            ASSERT_TRUE(::CopyFileA((std::string(FWTEST_PLANTED_DIR) + "/" + name).c_str(), (folder + "\\" + name).c_str(),
                                    FALSE))
                << folder << "\\" << name;
    }
    // Were it read: SHA-256 is then found in no provider, and libcrypto
    // loads the DLL it names as an engine, the one in the working folder.
    void plantConfiguration(const std::string& folder) {
        std::string dll = work + "\\libcrypto-3-x64.dll";
        for (std::size_t at = dll.find('\\'); at != std::string::npos; at = dll.find('\\', at + 2)) dll.insert(at, 1, '\\');
        std::filesystem::create_directories(folder);
        dir.write("openssl.cnf", "openssl_conf = planted\n[planted]\nalg_section = planted_algorithms\n"
                                 "engines = planted_engines\n[planted_algorithms]\ndefault_properties = fips=yes\n"
                                 "[planted_engines]\nplanted = planted_engine\n[planted_engine]\ndynamic_path = " +
                                     dll + "\n");
        ASSERT_TRUE(::CopyFileA((root + "\\openssl.cnf").c_str(), (folder + "\\openssl.cnf").c_str(), FALSE)) << folder;
    }
    // Where each stand-in that was loaded stood, in lower case, sorted.
    std::vector<std::string> loaded() {
        std::istringstream lines(fwtest::textOf(marker));
        std::vector<std::string> paths;
        for (std::string line; std::getline(lines, line);) paths.push_back(lowered(line));
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    int inspect(const std::vector<std::string>& args, std::string& lines, const std::string& exe = "fwinspect.exe") {
        fwtest::ToolStart how;
        how.folder = work;
        const int status = fwtest::runWindowsTool(exe, args, log, {}, how);
        lines = fwtest::textOf(log);
        return status;
    }
    int signWithToken(std::string& lines, const std::string& exe = "fwinspect.exe") {
        return inspect({"sign", "--key", "pkcs11:token=release;object=signing;type=private", "--cert", root + "\\ca.pem",
                        root + "\\package.update", "--output", root + "\\new.sig"},
                       lines, exe);
    }
};

TEST_F(PlantedCode, ThePlantedConfigurationWouldBreakVerifyingAndLoadCodeIfRead) {
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    ASSERT_NE(context, nullptr);
    OSSL_LIB_CTX_load_config(context, (work + "\\openssl.cnf").c_str());
    EVP_MD* sha256 = EVP_MD_fetch(context, "SHA256", nullptr);
    EXPECT_EQ(sha256, nullptr);
    EVP_MD_free(sha256);
    OSSL_LIB_CTX_free(context);
    EXPECT_EQ(loaded(), std::vector<std::string>{lowered(work + "\\libcrypto-3-x64.dll")});
}

TEST_F(PlantedCode, NothingPlantedIsLoadedAndAGoodSignatureStaysSound) {
    for (const int which : {OPENSSL_DIR, OPENSSL_ENGINES_DIR}) {
        const std::string folder = builtInFolder(which, work);
        ASSERT_FALSE(folder.empty());
        if (which == OPENSSL_DIR) plantConfiguration(folder);
        else plantIn(folder);
        for (const char* name : {"openssl.cnf", kPlanted[0], kPlanted[1]}) plantedElsewhere.push_back(folder + "\\" + name);
    }
    const Variable configuration("OPENSSL_CONF", work + "\\openssl.cnf");
    const Variable engines("OPENSSL_ENGINES", work);
    const Variable engineModule("PKCS11_MODULE_PATH", work + "\\libcrypto-3-x64.dll");
    std::string lines;
    EXPECT_EQ(signWithToken(lines), 2) << lines;
    char self[MAX_PATH + 1];
    std::string beside(self, ::GetModuleFileNameA(nullptr, self, MAX_PATH + 1));
    beside = beside.substr(0, beside.find_last_of("\\/") + 1) + "pkcs11.dll";
    EXPECT_NE(lines.find("PKCS#11 keys need OpenSSL's pkcs11 engine, which cannot be loaded from " + beside),
              std::string::npos)
        << lines;
    EXPECT_EQ(inspect({"verify", "--ca", root + "\\ca.pem", root + "\\package.update"}, lines), 0) << lines;
    EXPECT_EQ(loaded(), std::vector<std::string>{});
}

TEST_F(PlantedCode, TheEngineComesFromItsFullPathOrBesideTheProgramWithItsImportsFromThere) {
    const std::string named = root + "\\named", program = root + "\\program";
    plantIn(named);
    plantIn(program);
    ASSERT_TRUE(::CopyFileA((backslashed(FWINSPECT_BINARY)).c_str(), (program + "\\fwinspect.exe").c_str(), FALSE));
    const std::vector<std::string> fromNamed{lowered(named + "\\libcrypto-3-x64.dll"), lowered(named + "\\pkcs11.dll")};
    const std::vector<std::string> fromProgram{lowered(program + "\\libcrypto-3-x64.dll"),
                                               lowered(program + "\\pkcs11.dll")};
    const struct {
        const char* variable;  // null: none is set
        std::string value, exe, message;
        std::vector<std::string> loaded;
    } cases[] = {
        {"FWINSPECT_PKCS11_ENGINE", named + "\\pkcs11.dll", "fwinspect.exe",
         "cannot be loaded from " + named + "\\pkcs11.dll", fromNamed},
        {nullptr, "", program + "\\fwinspect.exe", "cannot be loaded from " + program + "\\pkcs11.dll",
         fromProgram},
        {"FWINSPECT_PKCS11_ENGINE", "pkcs11.dll", "fwinspect.exe",
         "FWINSPECT_PKCS11_ENGINE must name a file by its full path, not \"pkcs11.dll\"", {}},
        {"FWINSPECT_PKCS11_ENGINE", "\\pkcs11.dll", "fwinspect.exe", "must name a file by its full path", {}},
        {"FWINSPECT_PKCS11_ENGINE", work.substr(0, 2) + "pkcs11.dll", "fwinspect.exe",
         "must name a file by its full path", {}},
        {"FWINSPECT_PKCS11_MODULE", "libcrypto-3-x64.dll", "fwinspect.exe",
         "FWINSPECT_PKCS11_MODULE must name a file by its full path", {}},
    };
    const Variable engines("OPENSSL_ENGINES", work);
    for (const auto& c : cases) {
        ::DeleteFileA(marker.c_str());
        std::optional<Variable> given;
        if (c.variable != nullptr) given.emplace(c.variable, c.value);
        std::string lines;
        EXPECT_EQ(signWithToken(lines, c.exe), 2) << c.value << ": " << lines;
        EXPECT_NE(lines.find(c.message), std::string::npos) << c.value << ": " << lines;
        EXPECT_EQ(loaded(), c.loaded) << c.value << " " << c.exe;
    }
}

}  // namespace
