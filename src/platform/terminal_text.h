// How the tools write bytes they do not control into a line a person reads:
// names from the command line or from a package can hold anything, and a
// terminal takes some bytes as commands.
#pragma once

#include <string>
#include <vector>

namespace fw {

// Printable text stays, in any script; a backslash, every control
// character and every byte that is no UTF-8 become \\ and \xNN.
std::string escapeText(const std::string& bytes);
// A path the same way, except that its separators print as themselves (a
// Windows path's backslash too).
std::string escapePath(const std::string& path);

// `words` as one command line to paste into this system's shell, each
// quoted as it needs; a word the shell cannot pass shows escaped instead,
// so the line never carries a raw control character.
std::string shellLine(const std::vector<std::string>& words);

}  // namespace fw
