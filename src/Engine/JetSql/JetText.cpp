// Case mapping, the JETNOCASE collation and Like patterns over UTF-8 text (see JetText.h).
#include "Engine/JetSql/JetText.h"

#include <string>

namespace jetsql::detail {

char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    ++pos;  // a stray continuation byte or an invalid lead byte stands for itself
    return b0;
  }
  if (pos + len > text.size()) {
    ++pos;
    return b0;
  }
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return b0;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;  // overlong or out of range: read byte by byte
    return b0;
  }
  pos += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {

// In [lo, hi], upper and lower case letters alternate; `upperEven` says whether the upper case
// letter of each pair has the even code point.
bool InPairRange(char32_t cp, char32_t lo, char32_t hi) {
  return cp >= lo && cp <= hi;
}

char32_t PairToLower(char32_t cp, bool upperEven) {
  return ((cp % 2 == 0) == upperEven) ? cp + 1 : cp;
}
char32_t PairToUpper(char32_t cp, bool upperEven) {
  return ((cp % 2 == 0) != upperEven) ? cp - 1 : cp;
}

// The lower-case mapping shared by FoldCase and ToLower.
char32_t LowerCommon(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  if (cp < 0x100) return (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) ? cp + 32 : cp;
  if (cp < 0x180) {
    if (cp == 0x130) return 'i';
    if (cp == 0x178) return 0xFF;
    if (InPairRange(cp, 0x100, 0x12F) || InPairRange(cp, 0x132, 0x137) ||
        InPairRange(cp, 0x14A, 0x177))
      return PairToLower(cp, true);
    if (InPairRange(cp, 0x139, 0x148) || InPairRange(cp, 0x179, 0x17E))
      return PairToLower(cp, false);
    return cp;
  }
  if (cp < 0x250) {
    if (InPairRange(cp, 0x1CD, 0x1DC)) return PairToLower(cp, false);
    if (InPairRange(cp, 0x1DE, 0x1EF) || InPairRange(cp, 0x1F8, 0x21F) ||
        InPairRange(cp, 0x222, 0x233))
      return PairToLower(cp, true);
    return cp;
  }
  if (cp < 0x400) {
    if (cp == 0x386) return 0x3AC;
    if (cp >= 0x388 && cp <= 0x38A) return cp + 37;
    if (cp == 0x38C) return 0x3CC;
    if (cp == 0x38E || cp == 0x38F) return cp + 63;
    if ((cp >= 0x391 && cp <= 0x3A1) || (cp >= 0x3A3 && cp <= 0x3AB)) return cp + 32;
    return cp;
  }
  if (cp < 0x530) {
    if (cp <= 0x40F) return cp + 80;
    if (cp <= 0x42F) return cp + 32;
    if (InPairRange(cp, 0x460, 0x481) || InPairRange(cp, 0x48A, 0x4BF) ||
        InPairRange(cp, 0x4D0, 0x52F))
      return PairToLower(cp, true);
    if (cp == 0x4C0) return 0x4CF;
    if (InPairRange(cp, 0x4C1, 0x4CE)) return PairToLower(cp, false);
    return cp;
  }
  if (cp >= 0x531 && cp <= 0x556) return cp + 48;
  if (cp >= 0x1E00 && cp <= 0x1EFF) {
    if (cp == 0x1E9E) return 0xDF;
    if (InPairRange(cp, 0x1E00, 0x1E95) || InPairRange(cp, 0x1EA0, 0x1EFF))
      return PairToLower(cp, true);
    return cp;
  }
  if (cp >= 0xFF21 && cp <= 0xFF3A) return cp + 32;
  return cp;
}

}  // namespace

char32_t ToLower(char32_t cp) {
  return LowerCommon(cp);
}

char32_t FoldCase(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  if (cp == 0x3C2) return 0x3C3;  // final sigma compares as sigma
  if (cp == 0x17F) return 's';    // long s
  return LowerCommon(cp);
}

char32_t ToUpper(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
  if (cp < 0x100) {
    if (cp == 0xFF) return 0x178;
    return (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) ? cp - 32 : cp;
  }
  if (cp < 0x180) {
    if (cp == 0x131) return 'I';
    if (cp == 0x17F) return 'S';
    if (InPairRange(cp, 0x100, 0x12F) || InPairRange(cp, 0x132, 0x137) ||
        InPairRange(cp, 0x14A, 0x177))
      return PairToUpper(cp, true);
    if (InPairRange(cp, 0x139, 0x148) || InPairRange(cp, 0x179, 0x17E))
      return PairToUpper(cp, false);
    return cp;
  }
  if (cp < 0x250) {
    if (InPairRange(cp, 0x1CD, 0x1DC)) return PairToUpper(cp, false);
    if (InPairRange(cp, 0x1DE, 0x1EF) || InPairRange(cp, 0x1F8, 0x21F) ||
        InPairRange(cp, 0x222, 0x233))
      return PairToUpper(cp, true);
    return cp;
  }
  if (cp < 0x400) {
    if (cp == 0x3AC) return 0x386;
    if (cp >= 0x3AD && cp <= 0x3AF) return cp - 37;
    if (cp == 0x3CC) return 0x38C;
    if (cp == 0x3CD || cp == 0x3CE) return cp - 63;
    if (cp == 0x3C2) return 0x3A3;
    if ((cp >= 0x3B1 && cp <= 0x3C1) || (cp >= 0x3C3 && cp <= 0x3CB)) return cp - 32;
    return cp;
  }
  if (cp < 0x530) {
    if (cp >= 0x430 && cp <= 0x44F) return cp - 32;
    if (cp >= 0x450 && cp <= 0x45F) return cp - 80;
    if (InPairRange(cp, 0x460, 0x481) || InPairRange(cp, 0x48A, 0x4BF) ||
        InPairRange(cp, 0x4D0, 0x52F))
      return PairToUpper(cp, true);
    if (cp == 0x4CF) return 0x4C0;
    if (InPairRange(cp, 0x4C1, 0x4CE)) return PairToUpper(cp, false);
    return cp;
  }
  if (cp >= 0x561 && cp <= 0x586) return cp - 48;
  if (cp >= 0x1E00 && cp <= 0x1EFF) {
    if (InPairRange(cp, 0x1E00, 0x1E95) || InPairRange(cp, 0x1EA0, 0x1EFF))
      return PairToUpper(cp, true);
    return cp;
  }
  if (cp >= 0xFF41 && cp <= 0xFF5A) return cp - 32;
  return cp;
}

char32_t BaseLetter(char32_t cp) {
  // Base letters of U+00E0..U+00FF (lower case Latin-1) and U+0100..U+017F (Latin Extended-A).
  static constexpr char kLatin1[] = "aaaaaaaceeeeiiiidnooooo\xf7ouuuuy\xfey";
  static constexpr char kExtendedA[] =
      "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiiijjkkklllllll"
      "lllnnnnnnnnnoooooooorrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
  static_assert(sizeof kLatin1 == 0x20 + 1 && sizeof kExtendedA == 0x80 + 1);
  const char32_t f = FoldCase(cp);
  if (f < 0xDF) return f;
  if (f == 0xDF) return 's';
  if (f <= 0xFF) return static_cast<unsigned char>(kLatin1[f - 0xE0]);
  if (f < 0x180) return static_cast<unsigned char>(kExtendedA[f - 0x100]);
  switch (f) {
    case 0x3AC:
      return 0x3B1;
    case 0x3AD:
      return 0x3B5;
    case 0x3AE:
      return 0x3B7;
    case 0x3AF:
    case 0x3CA:
    case 0x390:
      return 0x3B9;
    case 0x3CC:
      return 0x3BF;
    case 0x3CD:
    case 0x3CB:
    case 0x3B0:
      return 0x3C5;
    case 0x3CE:
      return 0x3C9;
    case 0x451:
      return 0x435;
    default:
      return f;
  }
}

namespace {

// Compares two texts by a key of each code point; ASCII takes a fast path through `asciiKey`.
template <typename KeyFn>
int CompareByKey(std::string_view a, std::string_view b, KeyFn key) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    char32_t ka;
    char32_t kb;
    if (ca < 0x80 && cb < 0x80) {
      ka = (ca >= 'A' && ca <= 'Z') ? ca + 32u : ca;
      kb = (cb >= 'A' && cb <= 'Z') ? cb + 32u : cb;
      ++i;
      ++j;
    } else {
      ka = key(NextCodePoint(a, i));
      kb = key(NextCodePoint(b, j));
    }
    if (ka != kb) return ka < kb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
  const int primary = CompareByKey(a, b, BaseLetter);
  if (primary != 0) return primary;
  return CompareByKey(a, b, FoldCase);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return CompareByKey(a, b, FoldCase) == 0;
}

bool LikePattern::Compile(std::string_view pattern, std::string* pError) {
  m_elements.clear();
  m_ranges.clear();
  auto fail = [&](const std::string& what, std::size_t at) {
    if (pError) *pError = what + " at position " + std::to_string(at + 1);
    return false;
  };
  std::size_t pos = 0;
  while (pos < pattern.size()) {
    const std::size_t start = pos;
    const char32_t cp = NextCodePoint(pattern, pos);
    switch (cp) {
      case '*':
        if (m_elements.empty() || m_elements.back().op != Op::Star)
          m_elements.push_back({Op::Star, 0, 0, 0});
        break;
      case '?':
        m_elements.push_back({Op::One, 0, 0, 0});
        break;
      case '#':
        m_elements.push_back({Op::Digit, 0, 0, 0});
        break;
      case '[': {
        bool negated = false;
        if (pos < pattern.size() && pattern[pos] == '!') {
          negated = true;
          ++pos;
        }
        const auto setBegin = static_cast<std::uint32_t>(m_ranges.size());
        bool closed = false;
        bool first = true;
        while (pos < pattern.size()) {
          const std::size_t itemPos = pos;
          const char32_t lo = NextCodePoint(pattern, pos);
          if (lo == ']') {
            closed = true;
            break;
          }
          char32_t hi = lo;
          // "a-z" is a range; a '-' first or last in the list is the character itself.
          if (!(lo == '-' && first) && pos + 1 < pattern.size() && pattern[pos] == '-' &&
              pattern[pos + 1] != ']') {
            ++pos;
            hi = NextCodePoint(pattern, pos);
            if (hi < lo) return fail("Like pattern range out of order", itemPos);
          }
          m_ranges.push_back({lo, hi});
          first = false;
        }
        if (!closed) return fail("Like pattern without ']' for the '[' opened", start);
        const auto setEnd = static_cast<std::uint32_t>(m_ranges.size());
        if (setBegin == setEnd) {
          // "[]" matches the empty string; "[!]" is the character '!'.
          if (negated) m_elements.push_back({Op::Char, '!', 0, 0});
          break;
        }
        m_elements.push_back({negated ? Op::NotSet : Op::Set, 0, setBegin, setEnd});
        break;
      }
      default:
        m_elements.push_back({Op::Char, FoldCase(cp), 0, 0});
        break;
    }
  }
  return true;
}

bool LikePattern::MatchesElement(const Element& e, char32_t cp) const {
  switch (e.op) {
    case Op::One:
      return true;
    case Op::Digit:
      return cp >= '0' && cp <= '9';
    case Op::Char:
      return FoldCase(cp) == e.ch;
    case Op::Set:
    case Op::NotSet: {
      const char32_t folded = FoldCase(cp);
      const char32_t upper = ToUpper(folded);
      bool in = false;
      for (std::uint32_t r = e.setBegin; r < e.setEnd && !in; ++r) {
        const Range& range = m_ranges[r];
        in = (cp >= range.lo && cp <= range.hi) || (folded >= range.lo && folded <= range.hi) ||
             (upper >= range.lo && upper <= range.hi);
      }
      return in == (e.op == Op::Set);
    }
    case Op::Star:
      break;
  }
  return false;
}

bool LikePattern::Matches(std::string_view text) const {
  // Greedy matching that backtracks to the last '*': every other element takes exactly one
  // character, so retrying from the last star with one more character taken by it is complete.
  const std::size_t n = m_elements.size();
  std::size_t ti = 0;
  std::size_t pi = 0;
  std::size_t starPi = n;  // n: no star seen yet
  std::size_t starTi = 0;
  while (ti < text.size()) {
    if (pi < n && m_elements[pi].op == Op::Star) {
      starPi = pi++;
      starTi = ti;
      continue;
    }
    if (pi < n) {
      std::size_t next = ti;
      const char32_t cp = NextCodePoint(text, next);
      if (MatchesElement(m_elements[pi], cp)) {
        ti = next;
        ++pi;
        continue;
      }
    }
    if (starPi == n) return false;
    pi = starPi + 1;
    NextCodePoint(text, starTi);
    ti = starTi;
  }
  while (pi < n && m_elements[pi].op == Op::Star) ++pi;
  return pi == n;
}

}  // namespace jetsql::detail
