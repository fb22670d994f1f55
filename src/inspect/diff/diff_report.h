// How fwinspect diff shows its findings: lines for people, or one JSON
// document. Both name parts by identity, as list names them.
#pragma once

#include <cstdio>

namespace fw {

struct PackageDiff;

void printDiffText(const PackageDiff& diff, std::FILE* out);
void printDiffJson(const PackageDiff& diff, std::FILE* out);

}  // namespace fw
