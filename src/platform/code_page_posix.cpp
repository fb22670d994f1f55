#include "platform/code_page.h"

namespace fw {

bool nameFieldBytes(const std::string& name, std::string* bytes) {
    *bytes = name;
    return true;
}

bool nameFieldText(const std::string& bytes, std::string* name) {
    *name = bytes;
    return true;
}

}  // namespace fw
