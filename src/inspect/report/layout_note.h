#pragma once

#include <cstdio>

#include "inspect/reader/package_reader.h"

namespace fw {

// One line on `err` when the package's layout could only be guessed.
void noteGuessedLayout(const PackageSummary& summary, std::FILE* err);

}  // namespace fw
