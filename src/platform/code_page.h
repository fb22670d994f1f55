// A named part's name field is single-byte text, as the earlier Windows
// tool stored it: on Windows the name's bytes in the ANSI code page of the
// machine, so a package made here holds what that tool made here; on POSIX
// the argument's own bytes. Inside, the tools hold names as UTF-8 text; these
// convert between the two, and never store or show a look-alike or '?' in
// place of a character.
#pragma once

#include <string>

namespace fw {

// The field's bytes for a name; false when the code page lacks one of its
// characters.
bool nameFieldBytes(const std::string& name, std::string* bytes);
// The name a field's bytes hold; false when they are no text in the code
// page (then `name` is left as it was).
bool nameFieldText(const std::string& bytes, std::string* name);

}  // namespace fw
