// Text read from a package, written into JSON. A package stores names as
// raw bytes; JSON wants Unicode text. Valid UTF-8 passes as text, and a
// name that is not valid UTF-8 gets its exact bytes beside it in hex.
#pragma once

#include <string>

#include "inspect/text/plain_text.h"

namespace fw {

// A JSON string literal. Valid UTF-8 stays as it is; quote, backslash and
// every control character (C0, DEL, C1) and the two line separators that
// break JavaScript are escaped; each byte that is not part of valid UTF-8
// becomes \ufffd.
std::string jsonString(const std::string& bytes);

bool isValidUtf8(const std::string& bytes);

// `"key":"text"`, followed by `,"keyHex":"..."` (hexBytes) when the bytes are not valid
// UTF-8, so a program can always recover them exactly.
std::string jsonTextMember(const std::string& key, const std::string& bytes);

// The one JSON document of a command that could not read `path`:
// `{"package":...,"error":WHY,VERDICT}` and a line break, where VERDICT is
// the command's own closing members, such as `"sound":false`.
std::string unreadableJson(const std::string& path, const std::string& why, const std::string& verdict);

}  // namespace fw
