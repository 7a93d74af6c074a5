#include "jet/sql/like.h"

#include "jet/format/text.h"

namespace jet::sql {
namespace {

// Invalid bytes decode to values above the Unicode range so that they only match
// themselves (or ? and *).
constexpr char32_t kInvalidByteBase = 0x110000;

std::vector<char32_t> Decode(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  std::size_t k = 0;
  while (k < s.size()) {
    auto b = static_cast<unsigned char>(s[k]);
    int extra = b < 0x80 ? 0 : (b >= 0xC2 && b < 0xE0) ? 1 : (b >= 0xE0 && b < 0xF0) ? 2 : (b >= 0xF0 && b < 0xF5) ? 3 : -1;
    char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = extra >= 0 && k + static_cast<std::size_t>(extra) < s.size();
    for (int n = 1; ok && n <= extra; ++n) {
      auto c = static_cast<unsigned char>(s[k + static_cast<std::size_t>(n)]);
      if ((c & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      out.push_back(kInvalidByteBase + b);
      ++k;
      continue;
    }
    out.push_back(cp);
    k += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

char32_t Lower(char32_t c) { return c < 0x80 ? static_cast<char32_t>(FoldAscii(static_cast<char>(c))) : c; }
char32_t Upper(char32_t c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

}  // namespace

std::optional<LikePattern> LikePattern::Compile(std::string_view pattern, std::string* problem) {
  std::vector<char32_t> p = Decode(pattern);
  LikePattern out;
  std::size_t k = 0;
  while (k < p.size()) {
    char32_t c = p[k++];
    Element e;
    if (c == '*') {
      if (!out.elements_.empty() && out.elements_.back().kind == Element::Kind::Star) continue;
      e.kind = Element::Kind::Star;
    } else if (c == '?') {
      e.kind = Element::Kind::Any;
    } else if (c == '#') {
      e.kind = Element::Kind::Digit;
    } else if (c == '[') {
      std::size_t close = k;
      while (close < p.size() && p[close] != ']') ++close;
      if (close == p.size()) {
        *problem = "the [ at character " + std::to_string(k) + " of the pattern is not closed";
        return std::nullopt;
      }
      std::size_t n = k;
      k = close + 1;
      if (n == close) continue;  // [] stands for nothing at all
      e.kind = Element::Kind::Set;
      if (p[n] == '!' && n + 1 < close) {
        e.negated = true;
        ++n;
      }
      while (n < close) {
        char32_t lo = p[n];
        // A hyphen first or last in the set stands for itself.
        if (n + 2 < close && p[n + 1] == '-') {
          char32_t hi = p[n + 2];
          if (hi < lo) {
            *problem = "the range in the pattern runs backwards";
            return std::nullopt;
          }
          e.ranges.push_back({lo, hi});
          n += 3;
        } else {
          e.ranges.push_back({lo, lo});
          ++n;
        }
      }
    } else {
      e.kind = Element::Kind::Literal;
      e.ch = Lower(c);
    }
    out.elements_.push_back(std::move(e));
  }
  return out;
}

bool LikePattern::ElementMatches(const Element& e, char32_t c) const {
  switch (e.kind) {
    case Element::Kind::Star:
    case Element::Kind::Any: return true;
    case Element::Kind::Digit: return c >= '0' && c <= '9';
    case Element::Kind::Literal: return Lower(c) == e.ch;
    case Element::Kind::Set: {
      bool in = false;
      for (const Range& r : e.ranges) {
        for (char32_t v : {c, Lower(c), Upper(c)}) {
          if (v >= r.lo && v <= r.hi) in = true;
        }
      }
      return in != e.negated;
    }
  }
  return false;
}

bool LikePattern::Matches(std::string_view text) const {
  std::vector<char32_t> t = Decode(text);
  // Every element but * takes exactly one character, so on a mismatch it is enough to
  // let the most recent * swallow one more character and retry from there.
  std::size_t ti = 0, pi = 0;
  std::size_t star_pi = SIZE_MAX, star_ti = 0;
  while (ti < t.size()) {
    if (pi < elements_.size() && elements_[pi].kind == Element::Kind::Star) {
      star_pi = pi++;
      star_ti = ti;
    } else if (pi < elements_.size() && ElementMatches(elements_[pi], t[ti])) {
      ++pi;
      ++ti;
    } else if (star_pi != SIZE_MAX) {
      pi = star_pi + 1;
      ti = ++star_ti;
    } else {
      return false;
    }
  }
  while (pi < elements_.size() && elements_[pi].kind == Element::Kind::Star) ++pi;
  return pi == elements_.size();
}

}  // namespace jet::sql
