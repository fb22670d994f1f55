#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>

#include "digest/md5.h"

namespace fwtest {
namespace {

// Paths are UTF-8 text, as the tools hold them, on every system.
std::filesystem::path pathOf(const std::string& text) { return std::u8string(text.begin(), text.end()); }

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

// A new folder of a random name, made by this call and no other (a name
// already taken is never reused).
ScratchDir::ScratchDir() {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "fwtest.";
        for (int i = 0; i < 6; ++i) name += letters[random() % 36];
        std::error_code ec;
        if (std::filesystem::create_directory(base / name, ec)) {
            // Forward slashes on Windows too, which its calls take, so a
            // path reads the same in every message on both systems.
            path_ = utf8Of(base / name);
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(pathOf(path_), ec);
}

std::string ScratchDir::write(const std::string& name, const Bytes& bytes) const {
    const std::string p = file(name);
    std::ofstream f(pathOf(p), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + p);
    return p;
}

std::string ScratchDir::write(const std::string& name, const std::string& text) const {
    return write(name, Bytes(text.begin(), text.end()));
}

std::vector<std::string> ScratchDir::entries() const { return entriesOf(path_); }

std::vector<std::string> entriesOf(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(pathOf(path))) names.push_back(utf8Of(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

Bytes readFile(const std::string& path) {
    std::ifstream f(pathOf(path), std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// As lstat sees it: a link counts, whatever it points at.
bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(pathOf(path), ec));
}

Bytes patternBytes(std::size_t count, std::uint32_t salt) {
    Bytes b(count);
    std::uint32_t x = 0x9e3779b9u * salt + 1;
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<std::uint8_t>(x);
    }
    return b;
}

std::string hex(const fw::Digest& digest) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto b : digest) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

fw::Digest md5Of(const Bytes& bytes) { return fw::md5Of(bytes.data(), bytes.size()); }

std::string textOf(const std::string& path) {
    if (!exists(path)) return "";
    const Bytes b = readFile(path);
    return std::string(b.begin(), b.end());
}

void appendWord(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t wordAt(const Bytes& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | bytes.at(offset + static_cast<std::size_t>(i));
    return v;
}

namespace {

// Whatever order the tests run in, in one process: what a suite's set-up
// changes lasts until the suite ends, what a test changes until it ends.
class KeepProcessState : public ::testing::EmptyTestEventListener {
    void OnTestSuiteStart(const ::testing::TestSuite&) override { suite_.emplace(); }
    void OnTestStart(const ::testing::TestInfo&) override { test_.emplace(); }
    void OnTestEnd(const ::testing::TestInfo&) override { test_.reset(); }
    void OnTestSuiteEnd(const ::testing::TestSuite&) override { suite_.reset(); }

    std::optional<ProcessState> suite_, test_;
};

[[maybe_unused]] const bool keepingProcessState = [] {
    takeDefaultSignals();
    ::testing::UnitTest::GetInstance()->listeners().Append(new KeepProcessState);
    return true;
}();

}  // namespace

}  // namespace fwtest
