// A test suite whose keys and certificates are made once, by the shell
// script `Suite::script()` in a folder of the suite's own, and whose tests
// are skipped where the openssl command line cannot make them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/shell_tools.h"
#include "support/test_support.h"

namespace fwtest {

// A CA and one code-signing certificate it issued, for `Suite::script()`.
inline const std::string releaseSignerScript = R"(set -e
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key
openssl req -x509 -new -key ca.key -subj "/CN=Release CA" -days 30 -out ca.pem
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out signer.key
openssl req -new -key signer.key -subj "/CN=Release signer" -out signer.csr
printf "extendedKeyUsage=codeSigning\n" > signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile signer.ext -out signer.pem
)";

template <class Suite>
class CertificateSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir;
        made_ = std::system("openssl version >/dev/null 2>&1") == 0 && runScriptIn(*dir_, Suite::script());
        Suite::prepareSuite();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    // A suite's own SetUp calls this first and returns when IsSkipped().
    void SetUp() override {
        if (!made_) GTEST_SKIP() << "the openssl command line tool is missing or could not make test certificates";
    }
    // What the suite leaves in the folder beside the certificates.
    static void prepareSuite() {}

    static std::string file(const std::string& name) { return dir_->file(name); }
    static bool openssl(const std::string& arguments) { return opensslIn(*dir_, arguments); }

    static inline ScratchDir* dir_ = nullptr;
    static inline bool made_ = false;
};

}  // namespace fwtest
