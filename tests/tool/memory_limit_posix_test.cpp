// Both built tools under address-space limits (ulimit -v), from the least
// their loader survives up to where every run has room: each run either
// does what it does without a limit, byte for byte, or fails with its
// status and a message, its earlier output kept and nothing extracted or
// left behind. Never a signal: std::bad_alloc escaping a thread aborts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "support/certificate_suite.h"
#include "support/in_process.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

struct Limited {
    int status = -1;  // -1: ended by a signal
    int signal = 0;
    std::string out, err;
};

// Every file below `folder`, by its path there.
std::map<std::string, Bytes> filesIn(const std::string& folder) {
    std::map<std::string, Bytes> files;
    if (!fwtest::exists(folder)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files[std::filesystem::relative(entry.path(), folder).string()] =
            entry.is_regular_file() ? fwtest::readFile(entry.path().string()) : Bytes{};
    return files;
}

// One command of the sweep: its earlier output is put back before each
// run; `sameAsUnlimited` and `nothingLeft` judge the folder after it.
struct Command {
    std::string name;
    const char* tool;
    std::vector<std::string> args;
    int failure;  // the tool's status for a run that failed
    std::function<void()> before;
    std::function<void(const std::string& where)> sameAsUnlimited, nothingLeft;
    std::string unlimitedOut = {};
};

class MemoryLimit : public fwtest::CertificateSuite<MemoryLimit> {
protected:
    friend class fwtest::CertificateSuite<MemoryLimit>;
    static const char* script() { return fwtest::releaseSignerScript.c_str(); }

    fwtest::ScratchDir work, logs;
    std::string package = work.file("p.update"), out = work.file("out"), extracted = work.file("x");
    std::vector<std::string> pack{"-b",   "123", "-r", work.write("rfs.img", fwtest::patternBytes(1'500'000, 1)),
                                  "-k",   work.write("kernel.img", fwtest::patternBytes(100'000, 2)),
                                  "-a",   work.write("app.img", fwtest::patternBytes(1'000'000, 3)),
                                  "-o"};
    const Bytes earlier = fwtest::patternBytes(100, 9);

    // The tool with its address space limited to `mib` MiB (0: no limit).
    Limited run(const char* tool, const std::vector<std::string>& args, rlim_t mib) {
        const std::string outFile = logs.file("out"), errFile = logs.file("err");
        const pid_t child = fwtest::startTool(tool, args, [&] {
            const int o = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(120);
            const rlimit limit{mib << 20, mib << 20};
            if (mib != 0 && ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(121);
        });
        const fwtest::Ending end = fwtest::waitForEnd(child);
        return {end.exitCode, end.signal, fwtest::textOf(outFile), fwtest::textOf(errFile)};
    }

    // An output that stood before stays as it was, alone in its folder.
    std::function<void(const std::string&)> earlierKept(const std::string& name) {
        return [this, name](const std::string& where) {
            EXPECT_EQ(filesIn(out), (std::map<std::string, Bytes>{{name, earlier}})) << where;
        };
    }

    std::vector<Command> commands(const Bytes& packed, const std::map<std::string, Bytes>& parts) {
        std::vector<std::string> packArgs = pack;
        packArgs.push_back(out + "/p.update");
        const std::string sig = out + "/p.update.sig";
        auto earlierOutput = [this](const std::string& name) {
            return [this, name] {
                std::filesystem::remove_all(out);
                std::filesystem::create_directory(out);
                work.write("out/" + name, earlier);
            };
        };
        return {
            {"fwpack", FWPACK_BINARY, packArgs, 255, earlierOutput("p.update"),
             [this, packed](const std::string& where) {
                 EXPECT_EQ(filesIn(out), (std::map<std::string, Bytes>{{"p.update", packed}})) << where;
             },
             earlierKept("p.update")},
            {"list", FWINSPECT_BINARY, {"list", "--digests", package}, 2, [] {}, [](const std::string&) {},
             [](const std::string&) {}},
            {"verify", FWINSPECT_BINARY, {"verify", package}, 2, [] {}, [](const std::string&) {},
             [](const std::string&) {}},
            {"extract", FWINSPECT_BINARY, {"extract", package, extracted + "/sub"}, 2,
             [this] { std::filesystem::remove_all(extracted); },
             [this, parts](const std::string& where) { EXPECT_EQ(filesIn(extracted), parts) << where; },
             [this](const std::string& where) { EXPECT_FALSE(fwtest::exists(extracted)) << where; }},
            {"sign", FWINSPECT_BINARY,
             {"sign", "--key", file("signer.key"), "--cert", file("signer.pem"), "--output", sig, package}, 2,
             earlierOutput("p.update.sig"),
             [this, sig](const std::string& where) {
                 const auto verified =
                     fwtest::fwinspect({"verify", "--ca", file("ca.pem"), "--signature", sig, package});
                 EXPECT_EQ(verified.status, 0) << where << verified.out << verified.err;
             },
             earlierKept("p.update.sig")},
        };
    }
};

// The limits step by 1 MiB: a pass's threads, stacks and buffers come in
// steps of a few MiB, and each step once failed in its own way. Over a
// mebibyte of parts, so that the passes start threads.
TEST_F(MemoryLimit, EveryRunDoesAsWithoutALimitOrFailsWithAMessage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory needs more address space than any limit here leaves";
#endif
    std::vector<std::string> packArgs = pack;
    packArgs.push_back(package);
    ASSERT_EQ(run(FWPACK_BINARY, packArgs, 0).status, 0);
    ASSERT_EQ(run(FWINSPECT_BINARY, {"extract", package, extracted + "/sub"}, 0).status, 0);
    std::vector<Command> all = commands(fwtest::readFile(package), filesIn(extracted));
    for (Command& c : all) {
        c.before();
        const Limited r = run(c.tool, c.args, 0);
        ASSERT_EQ(r.status, 0) << c.name << r.err;
        c.unlimitedOut = r.out;
    }
    int failedWithMessage = 0;
    for (rlim_t mib = 4; mib <= 32; ++mib) {
        for (const Command& c : all) {
            const std::string where = c.name + " under " + std::to_string(mib) + " MiB";
            c.before();
            const Limited r = run(c.tool, c.args, mib);
            if (r.status == 127 && r.err.find("error while loading shared libraries") != std::string::npos) continue;
            ASSERT_EQ(r.signal, 0) << where << ": " << r.err;
            if (r.status == 0) {
                EXPECT_EQ(r.out, c.unlimitedOut) << where;
                c.sameAsUnlimited(where);
                continue;
            }
            ++failedWithMessage;
            EXPECT_EQ(r.status, c.failure) << where << ": " << r.err;
            EXPECT_EQ(r.err.rfind(std::string(c.failure == 255 ? "fwpack: " : "fwinspect: "), 0), 0u)
                << where << ": " << r.err;
            c.nothingLeft(where);
        }
    }
    EXPECT_GT(failedWithMessage, 0) << "no limit was low enough for a run to fail";
}

}  // namespace
