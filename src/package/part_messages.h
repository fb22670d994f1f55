// What the writer prints about each kind of part: the count line after it
// and the message when its input cannot be opened. The texts are the
// packer's own, kept exactly as release scripts have always read them.
#pragma once

#include <array>
#include <string_view>

#include "format/kinds.h"

namespace fw {

struct PartMessages {
    std::string_view countLabel;  // "<label> len = N" after the part; empty: no such line
    std::string_view openSuffix;  // follows "cant open [path]!"
    int openLocation;             // 0: the open message has no location
};

// Indexed by kind, in the order of the kinds table.
inline constexpr std::array<PartMessages, kindCount> partMessageTable{{
    {"", "boot", 0},
    {"", "kernel", 0},
    {"rfs", "rfs", 0},
    {"app", "app", 0},
    {"Part5", "config", 447},
    {"", "logo", 0},
    {"", "chlogo", 0},
    {"", "tar file", 0},
    {"Part5", "flash", 477},
    {"", "by index", 625},
    {"", "by name", 0},
}};

constexpr const PartMessages& messagesOf(PartKind k) { return partMessageTable[index(k)]; }

// Leads the open messages of the config, flash and mtd parts.
inline constexpr const char* openLocationText = "CCaldrewinCmd::OnBnClickedButtonDest";

}  // namespace fw
