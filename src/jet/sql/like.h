#pragma once
// Jet's LIKE patterns: * any run of characters, ? one character, # one digit, [abc] one
// of a set, [!abc] one character not in it, [a-z] a range. Letters match without
// regard to case (ASCII), characters are UTF-8 code points.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jet::sql {

class LikePattern {
 public:
  // nullopt and a reason in `problem` for a pattern Jet rejects (an unclosed [ or a
  // range whose ends are out of order).
  static std::optional<LikePattern> Compile(std::string_view pattern, std::string* problem);

  bool Matches(std::string_view text) const;

 private:
  struct Range {
    char32_t lo, hi;
  };
  struct Element {
    enum class Kind : std::uint8_t { Star, Any, Digit, Literal, Set } kind = Kind::Literal;
    char32_t ch = 0;            // Literal, folded
    bool negated = false;       // Set
    std::vector<Range> ranges;  // Set
  };
  bool ElementMatches(const Element& e, char32_t c) const;

  std::vector<Element> elements_;
};

}  // namespace jet::sql
