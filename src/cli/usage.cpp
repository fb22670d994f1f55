#include "cli/usage.h"
#include "platform/console_text.h"

namespace fw {
namespace {

constexpr const char* usageText =
    "[%s]e.g.:\n"
    "-o output filename\n"
    "-p1 mtd0_file\n"
    "-p2 mtd1_file\n"
    "-p3 mtd2_file\n"
    "-p4 mtd3_file\n"
    "-p5 mtd4_file\n"
    "-p6 mtd5_file\n"
    "-n PartName file\n"
    "-flash flashfile\n"
    "-u boot.img\n"
    "-k kernel.img\n"
    "-r rfs.img\n"
    "-a app.img\n"
    "-g config.img\n"
    "-l logo.jpg\n"
    "-c ch_logo.img\n"
    "-t tarfile.tar.gz\n"
    "-b boardtype: (0a20 0a14 ...)\n"
    "-clear:clear config files\n"
    "-old: old boardtype[%s]\n";

std::string hex3(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%03x", code);
    return text;
}

}  // namespace

std::string legacyCodeList(std::span<const std::uint32_t> codes) {
    std::string list;
    for (std::size_t i = 0; i < codes.size();) {
        std::size_t last = i;
        while (last + 1 < codes.size() && codes[last + 1] == codes[last] + 1) ++last;
        if (!list.empty()) list += ',';
        list += hex3(codes[i]);
        if (last > i) list += '~' + hex3(codes[last]);
        i = last + 1;
    }
    return list;
}

void printUsage(const char* message, std::FILE* out) {
    print(out, usageText, message, legacyCodeList(legacyBoardCodes).c_str());
}

}  // namespace fw
