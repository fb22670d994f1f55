// fwinspect's help: one usage text per command, and the whole of them.
#pragma once

#include <string>

namespace fw {

// The synopsis, options and exit statuses of one command ("list", "lint"),
// or of all of them for an empty or unknown name.
std::string usageText(const std::string& command);

}  // namespace fw
