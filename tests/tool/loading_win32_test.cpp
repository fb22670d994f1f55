// fwinspect.exe loads code and configuration only from where the user
// named them or from beside itself. Stand-ins for pkcs11.dll and
// libcrypto-3-x64.dll (tests/windows/planted_library.cpp, which note every
// load) and an openssl.cnf are planted in the working folder, in
// $OPENSSL_ENGINES, $OPENSSL_CONF and the folders libcrypto was built with.
#include <windows.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>

#include "support/test_support.h"

namespace {

// Backslashes and lower case, as paths are compared here.
std::string plain(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return std::tolower(c); });
    return path;
}

// An environment variable the tools started meanwhile inherit.
struct Variable {
    const char* name;
    Variable(const char* n, const std::string& value) : name(n) { ::SetEnvironmentVariableA(n, value.c_str()); }
    ~Variable() { ::SetEnvironmentVariableA(name, nullptr); }
    Variable(const Variable&) = delete;
};

class PlantedCode : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string root = plain(dir.path()), work = root + "\\work", marker = root + "\\loaded.txt";
    Variable markerVariable{"FWTEST_LOAD_MARKER", marker};
    std::vector<std::string> plantedElsewhere;

    void SetUp() override {
        plantIn(work);
        // Were it read, SHA-256 would be in no provider, and the DLL named
        // as an engine would load.
        std::string dll = work + "\\libcrypto-3-x64.dll";
        for (std::size_t at = dll.find('\\'); at != std::string::npos; at = dll.find('\\', at + 2)) dll.insert(at, 1, '\\');
        dir.write("work/openssl.cnf", "openssl_conf = planted\n[planted]\nalg_section = algorithms\nengines = engines\n"
                                      "[algorithms]\ndefault_properties = fips=yes\n[engines]\nplanted = engine\n"
                                      "[engine]\ndynamic_path = " + dll + "\n");
        const std::string data = std::string(FWTEST_DATA_DIR) + "/ed25519-sha256/";
        for (const char* name : {"ca.pem", "package.update", "package.update.sig"})
            dir.write(name, fwtest::readFile(data + name));
    }
    void TearDown() override {
        for (const std::string& file : plantedElsewhere) ::DeleteFileA(file.c_str());
    }
    void plantIn(const std::string& folder) {
        std::filesystem::create_directories(folder);
        for (const char* name : {"pkcs11.dll", "libcrypto-3-x64.dll"})
            ASSERT_TRUE(::CopyFileA((std::string(FWTEST_PLANTED_DIR) + "/" + name).c_str(), (folder + "\\" + name).c_str(),
                                    FALSE));
    }
    // Where each stand-in that was loaded stood, sorted.
    std::vector<std::string> loaded() {
        std::istringstream lines(fwtest::textOf(marker));
        std::vector<std::string> paths;
        for (std::string line; std::getline(lines, line);) paths.push_back(plain(line));
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    int inspect(const std::vector<std::string>& args, std::string& lines, const std::string& exe = "fwinspect.exe") {
        fwtest::ToolStart how;
        how.workingFolder = work;
        const int status = fwtest::runWindowsTool(exe, args, dir.file("log"), {}, how);
        lines = fwtest::textOf(dir.file("log"));
        return status;
    }
    int signWithToken(std::string& lines, const std::string& exe = "fwinspect.exe") {
        return inspect({"sign", "--key", "pkcs11:token=release;object=signing", "--cert", root + "\\ca.pem", "--output",
                        root + "\\new.sig", root + "\\package.update"},
                       lines, exe);
    }
};

TEST_F(PlantedCode, ThePlantedConfigurationWouldBreakVerifyingAndLoadCodeIfRead) {
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    OSSL_LIB_CTX_load_config(context, (work + "\\openssl.cnf").c_str());
    EVP_MD* sha256 = EVP_MD_fetch(context, "SHA256", nullptr);
    EXPECT_EQ(sha256, nullptr);
    EVP_MD_free(sha256);
    OSSL_LIB_CTX_free(context);
    EXPECT_EQ(loaded(), std::vector<std::string>{work + "\\libcrypto-3-x64.dll"});
}

TEST_F(PlantedCode, NothingPlantedIsLoadedAndAGoodSignatureStaysSound) {
    // The folders as OpenSSL_version reports them (OPENSSLDIR: "..."), on
    // the working folder's drive when they name none.
    for (const int which : {OPENSSL_DIR, OPENSSL_ENGINES_DIR}) {
        const std::string text = OpenSSL_version(which);
        std::string folder = plain(text.substr(text.find('"') + 1, text.rfind('"') - text.find('"') - 1));
        if (folder.size() < 2 || folder[1] != ':') folder = work.substr(0, 2) + folder;
        std::filesystem::create_directories(folder);
        if (which == OPENSSL_ENGINES_DIR) plantIn(folder);
        else ASSERT_TRUE(::CopyFileA((work + "\\openssl.cnf").c_str(), (folder + "\\openssl.cnf").c_str(), FALSE));
        for (const char* name : {"openssl.cnf", "pkcs11.dll", "libcrypto-3-x64.dll"})
            plantedElsewhere.push_back(folder + "\\" + name);
    }
    const Variable configuration("OPENSSL_CONF", work + "\\openssl.cnf"), engines("OPENSSL_ENGINES", work);
    std::string lines;
    EXPECT_EQ(signWithToken(lines), 2) << lines;
    const std::string beside = plain(FWINSPECT_BINARY).substr(0, plain(FWINSPECT_BINARY).rfind('\\') + 1);
    EXPECT_NE(plain(lines).find("openssl's pkcs11 engine, which cannot be loaded from "), std::string::npos) << lines;
    EXPECT_NE(plain(lines).find(beside + "pkcs11.dll"), std::string::npos) << lines;
    EXPECT_EQ(inspect({"verify", "--ca", root + "\\ca.pem", root + "\\package.update"}, lines), 0) << lines;
    EXPECT_EQ(loaded(), std::vector<std::string>{});
}

TEST_F(PlantedCode, TheEngineComesFromItsFullPathOrBesideTheProgramWithItsImportsFromThere) {
    const std::string named = root + "\\named", program = root + "\\program";
    plantIn(named);
    plantIn(program);
    ASSERT_TRUE(::CopyFileA(plain(FWINSPECT_BINARY).c_str(), (program + "\\fwinspect.exe").c_str(), FALSE));
    const struct {
        const char* variable;  // null: none is set
        std::string value, exe, message, loadedFrom;
    } cases[] = {
        {"FWINSPECT_PKCS11_ENGINE", named + "\\pkcs11.dll", "fwinspect.exe", "cannot be loaded from " + named, named},
        {nullptr, "", program + "\\fwinspect.exe", "cannot be loaded from " + program, program},
        {"FWINSPECT_PKCS11_ENGINE", "pkcs11.dll", "fwinspect.exe",
         "fwinspect_pkcs11_engine must name a file by its full path, not \"pkcs11.dll\"", ""},
        {"FWINSPECT_PKCS11_ENGINE", "\\pkcs11.dll", "fwinspect.exe", "must name a file by its full path", ""},
        {"FWINSPECT_PKCS11_ENGINE", work.substr(0, 2) + "pkcs11.dll", "fwinspect.exe", "by its full path", ""},
        {"FWINSPECT_PKCS11_MODULE", "libcrypto-3-x64.dll", "fwinspect.exe", "fwinspect_pkcs11_module must name", ""},
    };
    const Variable engines("OPENSSL_ENGINES", work);
    for (const auto& c : cases) {
        ::DeleteFileA(marker.c_str());
        std::optional<Variable> given;
        if (c.variable != nullptr) given.emplace(c.variable, c.value);
        std::string lines;
        EXPECT_EQ(signWithToken(lines, c.exe), 2) << c.value << ": " << lines;
        EXPECT_NE(plain(lines).find(plain(c.message)), std::string::npos) << c.value << ": " << lines;
        const std::vector<std::string> none, both{c.loadedFrom + "\\libcrypto-3-x64.dll", c.loadedFrom + "\\pkcs11.dll"};
        EXPECT_EQ(loaded(), c.loadedFrom.empty() ? none : both) << c.value << " " << c.exe;
    }
}

}  // namespace
