// The streaming JSON check against a recursive reading written apart from
// it, straight from RFC 8259's grammar: any bytes, fed whole and in pieces
// whose sizes the bytes choose, must be taken or refused alike, and a
// refusal must say the same wherever the pieces were cut.
#include <cstdint>
#include <cstring>
#include <string>

#include "inspect/text/json_check.h"

namespace {

class Reference {
public:
    Reference(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    bool document() {
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
        blanks();
        if (!value(0)) return false;
        blanks();
        return p_ == end_;
    }

private:
    bool at(char c) const { return p_ < end_ && *p_ == static_cast<std::uint8_t>(c); }
    bool take(char c) { return at(c) ? (++p_, true) : false; }
    void blanks() {
        while (at(' ') || at('\t') || at('\n') || at('\r')) ++p_;
    }
    bool digits() {
        const std::uint8_t* start = p_;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        return p_ > start;
    }
    bool number() {
        take('-');
        if (!take('0') && !digits()) return false;
        if (take('.') && !digits()) return false;
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!digits()) return false;
        }
        return true;
    }
    bool string() {
        if (!take('"')) return false;
        while (p_ < end_ && *p_ != '"') {
            if (*p_ < 0x20) return false;
            if (*p_++ != '\\') continue;
            if (p_ == end_) return false;
            const char c = static_cast<char>(*p_++);
            if (c == 'u') {
                for (int i = 0; i < 4; ++i, ++p_)
                    if (p_ == end_ || !std::isxdigit(*p_)) return false;
            } else if (!std::strchr("\"\\/bfnrt", c) || c == '\0') {
                return false;
            }
        }
        return take('"');
    }
    // Whole or not at all: "fnull" is no false and no null.
    bool word(const char* w) {
        const auto n = static_cast<std::ptrdiff_t>(std::strlen(w));
        if (end_ - p_ < n || std::memcmp(p_, w, static_cast<std::size_t>(n)) != 0) return false;
        p_ += n;
        return true;
    }
    bool value(std::size_t depth) {
        blanks();
        if (at('{') || at('[')) {
            if (depth >= fw::JsonCheck::deepest) return false;
            const char close = take('{') ? '}' : (++p_, ']');
            blanks();
            if (take(close)) return true;
            do {
                blanks();
                if (close == '}' && (!string() || (blanks(), !take(':')))) return false;
                if (!value(depth + 1)) return false;
                blanks();
            } while (take(','));
            return take(close);
        }
        if (at('"')) return string();
        if (at('-') || (p_ < end_ && *p_ >= '0' && *p_ <= '9')) return number();
        return word("true") || word("false") || word("null");
    }
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

std::string checked(const std::uint8_t* data, std::size_t size, std::size_t piece, bool& valid) {
    fw::JsonCheck json({"bomFormat"});
    for (std::size_t at = 0; at < size; at += piece) json.feed(data + at, std::min(piece, size - at));
    std::string why;
    valid = json.finish(&why);
    return why;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool expected = Reference(data, size).document();
    bool whole = false, pieces = false;
    const std::string why = checked(data, size, size == 0 ? 1 : size, whole);
    const std::string piecesWhy = checked(data, size, size == 0 ? 1 : data[0] % 7 + 1, pieces);
    if (whole != expected || pieces != expected || why != piecesWhy) __builtin_trap();
    return 0;
}
