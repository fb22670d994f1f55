// The kinds of part a package can carry. One table describes the nine
// single-instance kinds; the command line, registration, the writer and the
// inspector all read it, so a kind's option, codes and messages live here only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fw {

enum class FixedKind : std::uint8_t { boot, kernel, rfs, app, config, logo, chlogo, tar, flash };
inline constexpr std::size_t fixedKindCount = 9;

constexpr std::size_t index(FixedKind k) { return static_cast<std::size_t>(k); }

struct KindInfo {
    FixedKind kind;
    std::string_view name;
    std::string_view option;
    bool saysNotOutput;            // its missing value reads "not output for", else "need extraParams for"
    std::uint32_t typeCode;
    std::uint32_t oldTypeCode;     // 0: the old layout leaves the kind out
    std::uint32_t kindBit;
    std::uint32_t oldKindBit;
    std::string_view countLabel;   // empty: no count line
    std::string_view openSuffix;   // follows "cant open [path]!"
    int openLocation;              // 0: the open message has no location
    std::string_view fileName;     // what the inspector extracts the part as
};

inline constexpr std::array<KindInfo, fixedKindCount> kindTable{{
    {FixedKind::boot, "boot", "-u", false, 1, 1, 0x1, 0x1, "", "boot", 0, "boot.img"},
    {FixedKind::kernel, "kernel", "-k", false, 2, 0, 0x2, 0, "", "kernel", 0, "kernel.img"},
    {FixedKind::rfs, "rfs", "-r", false, 3, 2, 0x4, 0x2, "rfs", "rfs", 0, "rfs.img"},
    {FixedKind::app, "app", "-a", false, 4, 0, 0x8, 0, "app", "app", 0, "app.img"},
    {FixedKind::config, "config", "-g", false, 5, 0, 0x10, 0, "Part5", "config", 447, "config.img"},
    {FixedKind::logo, "logo", "-l", false, 6, 4, 0x20, 0x8, "", "logo", 0, "logo.img"},
    {FixedKind::chlogo, "chlogo", "-c", false, 7, 7, 0x40, 0x40, "", "chlogo", 0, "chlogo.img"},
    {FixedKind::tar, "tar", "-t", false, 9, 9, 0x100, 0x100, "", "tar file", 0, ""},
    {FixedKind::flash, "flash", "-flash", true, 22, 22, 0x200000, 0x200000, "Part5", "flash", 477,
     "flash.img"},
}};

constexpr const KindInfo& kindInfo(FixedKind k) { return kindTable[index(k)]; }

// Registration visits the kinds in this order, the writer in the second.
inline constexpr std::array<FixedKind, fixedKindCount> registrationOrder{
    FixedKind::config, FixedKind::app,  FixedKind::boot, FixedKind::chlogo, FixedKind::kernel,
    FixedKind::logo,   FixedKind::rfs,  FixedKind::tar,  FixedKind::flash};
inline constexpr std::array<FixedKind, fixedKindCount> writingOrder{
    FixedKind::boot,  FixedKind::kernel, FixedKind::rfs,    FixedKind::app, FixedKind::config,
    FixedKind::flash, FixedKind::logo,   FixedKind::chlogo, FixedKind::tar};

inline constexpr std::uint32_t namedTypeCode = 20;
inline constexpr std::uint32_t mtdTypeCode = 21;
inline constexpr std::uint32_t namedKindBit = 0x80000;
inline constexpr std::uint32_t mtdKindBit = 0x100000;

inline constexpr std::size_t mtdSlotCount = 20;
inline constexpr std::size_t namedSlotCount = 20;

// The fixed path under which the device stores the tar archive; the part
// carries it with its terminating zero in front of the archive.
inline constexpr std::string_view tarTargetPath = "/usr/etc/sata/sda0/tarfileupdate.tar.gz";
inline constexpr std::uint32_t tarPathFieldLength = tarTargetPath.size() + 1;

// Leads the open messages of the config, flash and mtd parts.
inline constexpr const char* openLocationText = "CCaldrewinCmd::OnBnClickedButtonDest";
inline constexpr int mtdOpenLocation = 625;

}  // namespace fw
