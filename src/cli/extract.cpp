#include "cli/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <string>

#include "cli/examine_report.h"
#include "job/kinds.h"
#include "platform/random_access.h"

namespace fw {
namespace {

// Quoted for a POSIX shell; a text holding bytes outside printable ASCII
// is written as $'...' with \xNN escapes, so nothing raw reaches the terminal.
std::string shellQuoted(const std::string& text) {
    static const std::string plainChars =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=+,:@%";
    if (!text.empty() && text.find_first_not_of(plainChars) == std::string::npos) return text;
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    std::string q = printable ? "'" : "$'";
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        if (c == '\'') q += printable ? "'\\''" : "\\'";
        else if (!printable && (c == '\\' || c < 0x20 || c >= 0x7f)) q += hex;
        else q += static_cast<char>(c);
    }
    return q + "'";
}

bool usableFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string fileNameOf(const PartReport& r) {
    if (r.kind == PartKind::named) return r.name;
    if (r.kind == PartKind::mtd) return "mtd" + std::to_string(r.header.partIndex - 1) + ".img";
    if (r.kind == PartKind::tar) return std::string(tarTargetPath.substr(tarTargetPath.rfind('/') + 1));
    return std::string(kindInfo(static_cast<FixedKind>(r.kind)).fileName);
}

std::string optionOf(const PartReport& r) {
    if (r.kind == PartKind::named) return "-n " + shellQuoted(r.name);
    if (r.kind == PartKind::mtd) return "-p" + std::to_string(r.header.partIndex);
    return std::string(kindInfo(static_cast<FixedKind>(r.kind)).option);
}

class Extractor : public InspectionSink {
public:
    Extractor(const RandomAccessFile& package, int dirFd, std::string dir, std::FILE* err)
        : package_(package), dirFd_(dirFd), dir_(std::move(dir)), err_(err) {}

    void summary(const PackageSummary& s) override {
        command_ = "fwpack -o " + shellQuoted(s.path);
        if (s.oldLayout) command_ += " -old";
    }
    void board(std::uint32_t code) override {
        char text[16];
        std::snprintf(text, sizeof text, "%04x", code);
        command_ += std::string(" -b ") + text;
    }
    // The package was sound a moment ago; a defect now means it changed
    // under us, and nothing more of it is trusted.
    void defect(const std::string& text) override {
        std::fprintf(err_, "%s\n", escapeText(text).c_str());
        changed_ = failed_ = true;
    }
    void part(const PartReport& r) override {
        if (changed_ || !r.dataInside || r.header.nameLength > r.header.dataLength) {
            failed_ = true;
            return;
        }
        const std::string name = fileNameOf(r);
        if (!usableFileName(name) || !written_.insert(name).second) {
            std::fprintf(err_, "part %u: name \"%s\" cannot be a file name here, part skipped\n", r.number,
                         escapeText(name).c_str());
            failed_ = true;
            return;
        }
        if (!writePart(r, name)) {
            std::fprintf(err_, "part %u: cannot write %s/%s\n", r.number, escapeText(dir_).c_str(), escapeText(name).c_str());
            failed_ = true;
            return;
        }
        parts_ += " " + optionOf(r) + " " + shellQuoted(dir_ + "/" + name);
    }

    bool failed() const { return failed_; }
    std::string command() const { return command_ + parts_; }

private:
    // Opened below the folder's descriptor and never through a link, so
    // nothing lands outside the folder.
    bool writePart(const PartReport& r, const std::string& name) {
        const int fd = ::openat(dirFd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        std::uint64_t at = r.offset + partHeaderSize + r.header.nameLength;
        std::uint64_t left = r.header.dataLength - r.header.nameLength;
        bool ok = true;
        while (ok && left > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, bufferSize));
            ok = package_.readAt(at, buffer_.get(), n) && writeAll(fd, n);
            at += n;
            left -= n;
        }
        return ::close(fd) == 0 && ok;
    }
    bool writeAll(int fd, std::size_t n) {
        for (std::size_t done = 0; done < n;) {
            const ssize_t w = ::write(fd, buffer_.get() + done, n - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += static_cast<std::size_t>(w);
        }
        return true;
    }

    static constexpr std::size_t bufferSize = 1 << 18;
    const RandomAccessFile& package_;
    int dirFd_;
    std::string dir_;
    std::FILE* err_;
    std::unique_ptr<std::uint8_t[]> buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    std::set<std::string> written_;
    std::string command_, parts_;
    bool failed_ = false, changed_ = false;
};

}  // namespace

int extractPackage(const char* packagePath, const char* dir, const InspectionOptions& options, std::FILE* out,
                   std::FILE* err) {
    auto check = makeReport(ReportStyle::defectsOnly, err);
    const InspectionResult verdict = inspectPackage(packagePath, options, *check);
    if (verdict == InspectionResult::unreadable) {
        std::fprintf(err, "fwinspect: cannot open %s\n", escapeText(packagePath).c_str());
        return 2;
    }
    if (verdict != InspectionResult::sound) {
        check->finish(verdict);
        std::fprintf(err, "fwinspect: nothing extracted from a damaged package\n");
        return 1;
    }
    if (::mkdir(dir, 0777) != 0 && errno != EEXIST) {
        std::fprintf(err, "fwinspect: cannot create %s\n", escapeText(dir).c_str());
        return 2;
    }
    const int dirFd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    RandomAccessFile package;
    if (dirFd < 0 || !package.open(packagePath)) {
        if (dirFd >= 0) ::close(dirFd);
        std::fprintf(err, "fwinspect: cannot open %s\n", escapeText(dirFd < 0 ? dir : packagePath).c_str());
        return 2;
    }
    // The digests were checked a moment ago; this pass only places the parts.
    InspectionOptions placing = options;
    placing.checkDigests = false;
    Extractor extractor(package, dirFd, dir, err);
    inspectPackage(packagePath, placing, extractor);
    ::close(dirFd);
    std::fprintf(out, "%s\n", extractor.command().c_str());
    return extractor.failed() ? 1 : 0;
}

}  // namespace fw
