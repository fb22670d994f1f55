// The Windows side of the test helpers: a stream whose text can be read
// back (a temporary file that the system deletes when it is closed).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "test_support.h"

namespace fwtest {

CapturedOutput::CapturedOutput() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (::GetTempPathW(MAX_PATH + 1, folder) == 0 || ::GetTempFileNameW(folder, L"fwt", 0, name) == 0)
        throw std::runtime_error("no temporary file for captured output");
    // Binary, as the Linux memory stream: the bytes come back as written.
    stream_ = ::_wfopen(name, L"w+bD");
}

CapturedOutput::~CapturedOutput() {
    if (stream_ != nullptr) std::fclose(stream_);
}

std::string CapturedOutput::text() {
    std::fflush(stream_);
    const long end = std::ftell(stream_);
    std::string text(static_cast<std::size_t>(end > 0 ? end : 0), '\0');
    std::fseek(stream_, 0, SEEK_SET);
    const std::size_t n = std::fread(text.data(), 1, text.size(), stream_);
    std::fseek(stream_, 0, SEEK_END);
    text.resize(n);
    return text;
}

}  // namespace fwtest
