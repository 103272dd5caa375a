// Text rules of Jet over UTF-8: case folding and case mapping of letters (ASCII, Latin-1, Latin
// Extended-A, Latin Extended Additional, Greek, Cyrillic, Armenian, full-width Latin), the
// collation order JETNOCASE, and the Like pattern language. Internal to the JetSql library.
//
// Malformed UTF-8 is read byte by byte, each stray byte standing for the code point of the same
// value, so that every byte string has one well-defined reading and the collation stays a total
// order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jetsql::detail {

// Decodes the code point at text[pos] and advances pos past it. REQUIRES: pos < text.size().
char32_t NextCodePoint(std::string_view text, std::size_t& pos);
// Appends the UTF-8 form of a code point (code points above 0x10FFFF or surrogates as U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

char32_t FoldCase(char32_t cp);    // the lower-case form used for comparisons
char32_t ToUpper(char32_t cp);     // UCase
char32_t ToLower(char32_t cp);     // LCase
char32_t BaseLetter(char32_t cp);  // folded and without diacritics: the primary sort key

// Collation JETNOCASE: <0, 0, >0. Primary: base letters; secondary: folded code points.
int CompareNoCase(std::string_view a, std::string_view b);
// Equal ignoring case (the collation's equality).
bool EqualNoCase(std::string_view a, std::string_view b);

// A compiled Like pattern. Jet's wildcards: * any run of characters, ? one character, # one digit
// 0-9, [list] one character in the list ([a-z] ranges, [!list] negated, [*] [?] [#] [[] literal,
// [] nothing). % and _ are ordinary characters. Matching is case-insensitive (FoldCase).
class LikePattern {
 public:
  // Compiles; on a malformed pattern ("[a-" unclosed, "[z-a]" reversed range) answers false and
  // sets *pError (if given) to a message naming the fault and its 1-based position.
  bool Compile(std::string_view pattern, std::string* pError);
  bool Matches(std::string_view text) const;

 private:
  enum class Op : std::uint8_t { Star, One, Digit, Char, Set, NotSet };
  struct Element {
    Op op;
    char32_t ch;             // Char: the folded character
    std::uint32_t setBegin;  // Set, NotSet: range index into m_ranges
    std::uint32_t setEnd;
  };
  struct Range {
    char32_t lo, hi;  // folded bounds, lo <= hi
  };
  bool MatchesElement(const Element& e, char32_t folded) const;

  std::vector<Element> m_elements;
  std::vector<Range> m_ranges;
};

}  // namespace jetsql::detail
