#include "inspect/text/json_check.h"

#include <algorithm>
#include <cstdio>

namespace fw {
namespace {

// No member this looks for is near this long; a longer one is cut.
constexpr std::size_t longestKept = 4096;
// Windows editors may start a UTF-8 file with one; RFC 8259 lets a reader skip it.
constexpr char byteOrderMark[] = "\xEF\xBB\xBF";

std::string shown(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7f) return std::string("'") + c + "'";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", byte);
    return std::string("byte ") + hex;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Number grammar, as the states after each accepted character.
enum Number { start, minus, zero, whole, point, fraction, exponent, exponentSign, exponentDigits };

}  // namespace

JsonCheck::JsonCheck(std::vector<std::string> kept) : keptNames_(std::move(kept)) {}

void JsonCheck::feed(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count && problem_.empty(); ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (at_ < 3 && at_ == bom_ && c == byteOrderMark[at_]) {
            ++bom_;
            ++at_;
            continue;
        }
        if (bom_ > 0 && bom_ < 3) {
            fail("a broken byte order mark");
            return;
        }
        if (!step(c)) return;
        ++at_;
    }
}

bool JsonCheck::finish(std::string* why) {
    if (problem_.empty() && token_ == Token::number) endNumber();
    if (problem_.empty() && (token_ != Token::none || expect_ != Expect::nothing))
        fail(at_ == bom_ ? "nothing" : "the end comes before the document is complete");
    if (problem_.empty()) return true;
    *why = problem_;
    return false;
}

std::string JsonCheck::member(const std::string& name) const {
    const auto found = kept_.find(name);
    return found == kept_.end() ? "" : found->second;
}

bool JsonCheck::fail(const std::string& what) {
    if (problem_.empty()) problem_ = "not JSON: " + what + " at byte " + std::to_string(at_);
    return false;
}

// A string is kept while it is a top-level key, or a value (or an array's
// value) of a top-level member asked for.
bool JsonCheck::keeping() const {
    if (open_.empty() || open_[0] != '{' || open_.size() > 2) return false;
    if (stringIsKey_) return open_.size() == 1;
    if (open_.size() == 2 && open_[1] != '[') return false;
    return std::find(keptNames_.begin(), keptNames_.end(), topKey_) != keptNames_.end();
}

bool JsonCheck::step(char c) {
    if (token_ == Token::string) return stringByte(c);
    if (token_ == Token::literal) {
        if (c != *literalLeft_) return fail("unexpected " + shown(c));
        if (*++literalLeft_ == '\0') {
            token_ = Token::none;
            endValue();
        }
        return true;
    }
    if (token_ == Token::number) {
        bool ended = false;
        if (!numberByte(c, ended)) return false;
        if (!ended) return true;
    }
    if (isBlank(c)) return true;
    switch (expect_) {
        case Expect::value: return startValue(c);
        case Expect::firstValueOrEnd: break;
        case Expect::firstKeyOrEnd:
            if (c == '}') break;
            [[fallthrough]];
        case Expect::key:
            if (c != '"') return fail("unexpected " + shown(c) + " where a member's name belongs");
            token_ = Token::string;
            stringIsKey_ = true;
            return true;
        case Expect::colon:
            if (c != ':') return fail("unexpected " + shown(c) + " where ':' belongs");
            expect_ = Expect::value;
            return true;
        case Expect::commaOrEnd:
            if (c == ',') {
                expect_ = open_.back() == '{' ? Expect::key : Expect::value;
                return true;
            }
            break;
        case Expect::nothing: return fail("more after the document: " + shown(c));
    }
    const char closing = open_.back() == '{' ? '}' : ']';
    if (c != closing) {
        if (expect_ == Expect::firstValueOrEnd) return startValue(c);
        return fail("unexpected " + shown(c));
    }
    open_.pop_back();
    endValue();
    return true;
}

bool JsonCheck::startValue(char c) {
    if (c == '{' || c == '[') {
        if (open_.size() >= deepest) return fail("nested deeper than " + std::to_string(deepest));
        open_.push_back(c);
        expect_ = c == '{' ? Expect::firstKeyOrEnd : Expect::firstValueOrEnd;
        return true;
    }
    if (c == '"') {
        token_ = Token::string;
        stringIsKey_ = false;
        return true;
    }
    if (c == '-' || isDigit(c)) {
        token_ = Token::number;
        numberState_ = Number::start;
        bool ended = false;
        return numberByte(c, ended);
    }
    const char* literals[] = {"true", "false", "null"};
    for (const char* literal : literals)
        if (c == literal[0]) {
            token_ = Token::literal;
            literalLeft_ = literal + 1;
            return true;
        }
    return fail("unexpected " + shown(c) + " where a value belongs");
}

bool JsonCheck::stringByte(char c) {
    if (escape_ == 1) {
        if (c == 'u') {
            escape_ = 2;
            return true;
        }
        static const std::string simple = "\"\\/bfnrt";
        if (simple.find(c) == std::string::npos) return fail("an unknown escape \\" + std::string(1, c));
        escape_ = 0;
        if (keeping() && text_.size() < longestKept) text_ += c == '"' || c == '\\' || c == '/' ? c : ' ';
        return true;
    }
    if (escape_ >= 2) {
        if (!isHex(c)) return fail("a \\u escape without four hexadecimal digits");
        escape_ = escape_ == 5 ? 0 : escape_ + 1;
        return true;
    }
    if (c == '\\') {
        escape_ = 1;
        return true;
    }
    if (c == '"') {
        endString();
        return true;
    }
    if (static_cast<unsigned char>(c) < 0x20) return fail("a control character inside a string");
    if (keeping() && text_.size() < longestKept) text_ += c;
    return true;
}

void JsonCheck::endString() {
    token_ = Token::none;
    if (stringIsKey_) {
        if (open_.size() == 1) topKey_ = text_;
        expect_ = Expect::colon;
    } else {
        if (keeping()) {
            std::string& value = kept_[topKey_];
            if (value.size() < longestKept) value.append(value.empty() ? "" : " ").append(text_);
        }
        endValue();
    }
    text_.clear();
}

void JsonCheck::endValue() { expect_ = open_.empty() ? Expect::nothing : Expect::commaOrEnd; }

bool JsonCheck::numberByte(char c, bool& ended) {
    const int s = numberState_;
    int next = -1;
    if (isDigit(c)) {
        if (s == start || s == minus) next = c == '0' ? zero : whole;
        else if (s == whole) next = whole;
        else if (s == point || s == fraction) next = fraction;
        else if (s >= exponent) next = exponentDigits;
        else return fail("a number with a leading zero");
    } else if (c == '-' && s == start) {
        next = minus;
    } else if ((c == '-' || c == '+') && s == exponent) {
        next = exponentSign;
    } else if (c == '.' && (s == zero || s == whole)) {
        next = point;
    } else if ((c == 'e' || c == 'E') && (s == zero || s == whole || s == fraction)) {
        next = exponent;
    }
    if (next >= 0) {
        numberState_ = next;
        return true;
    }
    ended = true;
    return endNumber();
}

bool JsonCheck::endNumber() {
    const int s = numberState_;
    if (s != zero && s != whole && s != fraction && s != exponentDigits) return fail("a number cut short");
    token_ = Token::none;
    endValue();
    return true;
}

}  // namespace fw
