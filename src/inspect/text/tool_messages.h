// fwinspect's own messages on standard error, each led by the tool's name.
#pragma once

#include <cstdio>
#include <string>

namespace fw {

// "fwinspect: cannot read PATH: WHY", for a package that cannot be opened.
void printCannotRead(std::FILE* err, const std::string& path, const std::string& why);

}  // namespace fw
