// A small file that appears whole or not at all.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw {

// Writes `bytes` to a temporary file beside `path` and renames it over
// `path`, so readers see the old file or the new one, never a part. A
// symbolic link at `path` is followed: its target is replaced, the link
// stays, as with a package output. The new
// file gets the mode a new file gets (0666 less the umask). `why` gets the
// system's reason on failure, and the earlier file stays as it was; the
// new bytes are removed, and where the system would not remove them
// `leftover` gets the temporary name they stay under. An interrupting
// signal that comes before the naming is such a failure ("interrupted"),
// one that comes after it no longer ends the run.
bool replaceFileWhole(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* why,
                      std::string* leftover = nullptr);

// Reads a whole file of at most `limit` bytes; false with the reason when it
// cannot be read or is larger. `missing` tells a file that does not exist.
bool readSmallFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* why,
                   bool& missing);

// The same for what a user hands over whole: a regular file, or a pipe,
// FIFO or character device read to its end, refused once past `limit`.
bool readSmallInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* why,
                    bool& missing);

// A regular file too large to hold, handed to `take` piece by piece from
// start to end, or until `take` returns false; false with the reason when
// it cannot be opened or read, or changed or was replaced while it was read.
bool readInPieces(const std::string& path, const std::function<bool(const std::uint8_t*, std::size_t)>& take,
                  std::string* why);

}  // namespace fw
