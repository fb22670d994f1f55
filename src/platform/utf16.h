// Text as Windows hands it over (UTF-16) and as the tools hold it (UTF-8),
// converted exactly both ways. Windows' names may hold a surrogate without
// its pair; such a unit is kept as its own three-byte sequence (the
// generalised UTF-8 known as WTF-8), so a name read from the system goes
// back to it as the same name. Nothing is ever replaced by another
// character: bytes that are no such text are refused.
#pragma once

#include <string>

namespace fw {

std::string utf8FromUtf16(const std::u16string& text);
// False, and `into` left empty, when `text` is no (generalised) UTF-8.
bool utf16FromUtf8(const std::string& text, std::u16string& into);
// The length of the UTF-8 sequence at `at` and its code point, or 0 where
// no character starts there (a surrogate is none).
std::size_t utf8CharAt(const std::string& text, std::size_t at, char32_t* c);

}  // namespace fw
