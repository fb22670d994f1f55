// Whether a file is one JSON document (RFC 8259), checked as its bytes
// stream past: a bill of materials an image's build wrote can be tens of
// megabytes, and only a few of its top-level members matter here. Memory
// stays bounded whatever the document: the nesting is capped and only the
// members asked for are kept, cut at a length no real value reaches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fw {

class JsonCheck {
public:
    // `kept`: the top-level members whose text is kept; a member holding an
    // array keeps its strings, joined by spaces.
    explicit JsonCheck(std::vector<std::string> kept);
    void feed(const std::uint8_t* bytes, std::size_t count);
    // After the last byte: false, with where and why, unless the bytes were
    // exactly one JSON value (blanks around it allowed).
    bool finish(std::string* why);
    // The bytes so far can be no JSON document, whatever follows.
    bool failed() const { return !problem_.empty(); }
    // A kept member's text, empty when the document had none.
    std::string member(const std::string& name) const;

    static constexpr std::size_t deepest = 512;

private:
    enum class Expect { value, firstKeyOrEnd, key, colon, commaOrEnd, firstValueOrEnd, nothing };
    enum class Token { none, string, number, literal };

    bool step(char c);
    bool startValue(char c);
    bool stringByte(char c);
    bool numberByte(char c, bool& ended);
    bool endNumber();
    void endString();
    void endValue();
    bool fail(const std::string& what);
    bool keeping() const;

    std::vector<std::string> keptNames_;
    std::map<std::string, std::string> kept_;
    std::vector<char> open_;  // '{' or '[' for each container around the point read
    Expect expect_ = Expect::value;
    Token token_ = Token::none;
    bool stringIsKey_ = false;
    int escape_ = 0;  // 1 after a backslash, 2..5 inside \uXXXX
    int numberState_ = 0;
    const char* literalLeft_ = "";
    std::string text_;     // the string read, when it is kept or a top-level key
    std::string topKey_;   // the top-level member being read
    std::uint64_t at_ = 0;
    std::uint64_t bom_ = 0;  // bytes of a leading byte order mark skipped
    std::string problem_;
};

}  // namespace fw
