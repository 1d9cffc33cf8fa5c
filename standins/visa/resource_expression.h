// The search expressions of viFindRsrc: a small regular-expression language
// over resource names (see visa_standin.h for what it accepts).
#ifndef VISA_STANDIN_RESOURCE_EXPRESSION_H
#define VISA_STANDIN_RESOURCE_EXPRESSION_H

#include <bitset>
#include <optional>
#include <string_view>
#include <vector>

namespace visa_standin {

class ResourceExpression {
 public:
  // The compiled expression, or nothing when text is not a valid one.
  static std::optional<ResourceExpression> Compile(std::string_view text);

  // True when the whole name matches, letters in either case.
  bool Matches(std::string_view name) const;

 private:
  enum class Repeat { kOnce, kZeroOrMore, kOneOrMore };
  // One character position of the expression: the bytes it accepts (both
  // cases of a letter already folded in) and how often it may repeat.
  struct Element {
    std::bitset<256> accepts;
    Repeat repeat = Repeat::kOnce;
  };

  std::vector<Element> elements_;
};

}  // namespace visa_standin

#endif
