// The kinds of part a package can carry, and every fact of the format that
// depends on the kind. One table: the command line, registration, the
// writer, the package reader, its reports and extraction all read it, so a
// kind's option, codes, bits and name field live here only. What fwpack
// prints about a kind is fwpack's, beside its writer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fw {

// The first nine are the single-instance kinds (isFixed); mtd and named
// parts come in slots. `unknown` is what a reader calls a type code that
// the layout never writes; it has no row.
enum class PartKind : std::uint8_t { boot, kernel, rfs, app, config, logo, chlogo, tar, flash, mtd, named, unknown };

inline constexpr std::size_t fixedKindCount = 9;
inline constexpr std::size_t kindCount = 11;

constexpr std::size_t index(PartKind k) { return static_cast<std::size_t>(k); }
constexpr bool isFixed(PartKind k) { return index(k) < fixedKindCount; }

// What stands between a part's header and its input's bytes.
enum class NameField : std::uint8_t {
    none,        // the input's bytes follow the header
    targetPath,  // the tar archive's fixed target path and its zero byte
    partName,    // the part name, zero-filled to a multiple of 4 bytes
};

struct KindInfo {
    PartKind kind;
    std::string_view name;         // as list, defects and JSON call it
    std::string_view option;       // the packer's option; mtd options are -p1 to -p20
    std::uint32_t typeCode;
    std::uint32_t oldTypeCode;     // 0: the old layout leaves the kind out
    std::uint32_t kindBit;
    std::uint32_t oldKindBit;
    NameField nameField;
    std::string_view fileName;     // what extraction calls the part; empty for slot kinds
};

inline constexpr std::array<KindInfo, kindCount> kindTable{{
    {PartKind::boot, "boot", "-u", 1, 1, 0x1, 0x1, NameField::none, "boot.img"},
    {PartKind::kernel, "kernel", "-k", 2, 0, 0x2, 0, NameField::none, "kernel.img"},
    {PartKind::rfs, "rfs", "-r", 3, 2, 0x4, 0x2, NameField::none, "rfs.img"},
    {PartKind::app, "app", "-a", 4, 0, 0x8, 0, NameField::none, "app.img"},
    {PartKind::config, "config", "-g", 5, 0, 0x10, 0, NameField::none, "config.img"},
    {PartKind::logo, "logo", "-l", 6, 4, 0x20, 0x8, NameField::none, "logo.img"},
    {PartKind::chlogo, "chlogo", "-c", 7, 7, 0x40, 0x40, NameField::none, "chlogo.img"},
    {PartKind::tar, "tar", "-t", 9, 9, 0x100, 0x100, NameField::targetPath, "tarfileupdate.tar.gz"},
    {PartKind::flash, "flash", "-flash", 22, 22, 0x200000, 0x200000, NameField::none, "flash.img"},
    {PartKind::mtd, "mtd", "-p", 21, 21, 0x100000, 0x100000, NameField::none, ""},
    {PartKind::named, "named", "-n", 20, 20, 0x80000, 0x80000, NameField::partName, ""},
}};

constexpr const KindInfo& kindInfo(PartKind k) { return kindTable[index(k)]; }

// Registration visits the fixed kinds in the first order; the writer and
// every package place them in the second, mtd and named parts after them.
inline constexpr std::array<PartKind, fixedKindCount> registrationOrder{
    PartKind::config, PartKind::app, PartKind::boot, PartKind::chlogo, PartKind::kernel,
    PartKind::logo,   PartKind::rfs, PartKind::tar,  PartKind::flash};
inline constexpr std::array<PartKind, kindCount> writingOrder{
    PartKind::boot,   PartKind::kernel, PartKind::rfs, PartKind::app, PartKind::config, PartKind::flash,
    PartKind::logo,   PartKind::chlogo, PartKind::tar, PartKind::mtd, PartKind::named};

constexpr std::uint32_t typeCodeOf(PartKind k, bool oldLayout) {
    return oldLayout ? kindInfo(k).oldTypeCode : kindInfo(k).typeCode;
}
constexpr std::uint32_t kindBitOf(PartKind k, bool oldLayout) {
    if (k == PartKind::unknown) return 0;
    return oldLayout ? kindInfo(k).oldKindBit : kindInfo(k).kindBit;
}
// The kind a type code stands for in a layout; unknown for codes it never writes.
constexpr PartKind kindOfTypeCode(std::uint32_t typeCode, bool oldLayout) {
    for (const KindInfo& info : kindTable)
        if (typeCode != 0 && typeCodeOf(info.kind, oldLayout) == typeCode) return info.kind;
    return PartKind::unknown;
}
constexpr std::string_view kindName(PartKind k) { return k == PartKind::unknown ? "unknown" : kindInfo(k).name; }

inline constexpr std::size_t mtdSlotCount = 20;
inline constexpr std::size_t namedSlotCount = 20;
// Every fixed kind once and every slot in use: the most parts a package
// from the packer holds.
inline constexpr std::size_t maxPartCount = fixedKindCount + mtdSlotCount + namedSlotCount;

// The fixed path under which the device stores the tar archive; the part
// carries it with its terminating zero in front of the archive.
inline constexpr std::string_view tarTargetPath = "/usr/etc/sata/sda0/tarfileupdate.tar.gz";
inline constexpr std::uint32_t tarPathFieldLength = tarTargetPath.size() + 1;

// A part name is stored rounded up to a whole number of 32-bit words; a
// name whose length is already a multiple of 4 has no terminating zero.
constexpr std::uint32_t nameFieldLengthOf(std::size_t nameLength) {
    return static_cast<std::uint32_t>((nameLength + 3) & ~std::size_t{3});
}
inline constexpr std::size_t maxPartNameLength = 63;

// Board types of the old layout, listed in the usage text's last line; a
// package for these boards alone is read as old when nothing else tells.
inline constexpr std::array<std::uint32_t, 7> legacyBoardCodes{0x1a0, 0x1a1, 0x1a2, 0x1a3, 0x1b0, 0x1c1, 0x1c2};

constexpr bool isLegacyBoard(std::uint32_t code) {
    for (std::uint32_t legacy : legacyBoardCodes)
        if (legacy == code) return true;
    return false;
}

}  // namespace fw
