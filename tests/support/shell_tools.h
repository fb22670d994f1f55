// Programs the tests call on to make or read what the tools take and give:
// sh and the openssl command line for keys and certificates, python3 for
// JSON documents.
#pragma once

#include <string>

#include "support/test_support.h"

namespace fwtest {

// A shell script run quietly in `dir` (written there as a file, so its
// quotes stay its own), or one openssl call run there.
bool runScriptIn(const ScratchDir& dir, const std::string& script);
bool opensslIn(const ScratchDir& dir, const std::string& arguments);

// Runs python3 on `json`, printing `expression` (over the parsed document
// `d`); what it printed, or "no python3" when there is none to run.
std::string pythonJson(const std::string& json, const std::string& expression);
bool pythonAvailable();

}  // namespace fwtest

// Checks what python3 reads from a JSON document; where there is no python3
// (a Windows test run) the test ends as skipped, after every check before it.
#define EXPECT_PYTHON_JSON(json, expression, expected)                                 \
    do {                                                                                \
        if (!fwtest::pythonAvailable()) GTEST_SKIP() << "no python3 to read the JSON";  \
        EXPECT_EQ(fwtest::pythonJson(json, expression), expected);                     \
    } while (false)
