// fwinspect's bash completion, made from the command table at build time.
#pragma once

#include <string>

namespace fw {

// The whole script as installed: complete -F _fwinspect fwinspect.
std::string completionScript();

}  // namespace fw
