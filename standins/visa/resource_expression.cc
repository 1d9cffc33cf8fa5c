#include "resource_expression.h"

#include <cstddef>

namespace visa_standin {
namespace {

constexpr std::string_view kUnsupported = "|(){}";

size_t Byte(char c) {
  return static_cast<unsigned char>(c);
}

// Adds c in both letter cases. Only ASCII letters fold: resource names are
// ASCII, and the result must not depend on the process's locale.
void AddFolded(std::bitset<256> &set, size_t c) {
  set.set(c);
  if (c >= 'a' && c <= 'z') set.set(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') set.set(c - 'A' + 'a');
}

// Parses the set that starts after the '[' at text[*at]; leaves *at after its
// ']'. False for an unclosed or empty set, a reversed range or a trailing '\'.
bool ParseSet(std::string_view text, size_t *at, std::bitset<256> *accepts) {
  size_t i = *at;
  const bool negated = i < text.size() && text[i] == '^';
  if (negated) ++i;
  std::bitset<256> set;
  bool empty = true;
  // Reads one set character, '\' escaping the next; false at the end.
  auto next = [&](size_t *c) {
    if (i < text.size() && text[i] == '\\') ++i;
    if (i >= text.size()) return false;
    *c = Byte(text[i++]);
    return true;
  };
  while (i < text.size() && text[i] != ']') {
    size_t low = 0;
    if (!next(&low)) return false;
    size_t high = low;
    // A '-' just before the ']' stands for itself.
    if (i + 1 < text.size() && text[i] == '-' && text[i + 1] != ']') {
      ++i;
      if (!next(&high) || high < low) return false;
    }
    for (size_t c = low; c <= high; ++c) AddFolded(set, c);
    empty = false;
  }
  if (i >= text.size() || empty) return false;
  *at = i + 1;
  *accepts = negated ? ~set : set;
  return true;
}

}  // namespace

std::optional<ResourceExpression> ResourceExpression::Compile(std::string_view text) {
  ResourceExpression expression;
  std::vector<Element> &elements = expression.elements_;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '*' || c == '+') {
      // A repeat needs an element of its own before it.
      if (elements.empty() || elements.back().repeat != Repeat::kOnce) return std::nullopt;
      elements.back().repeat = c == '*' ? Repeat::kZeroOrMore : Repeat::kOneOrMore;
      ++i;
      continue;
    }
    if (kUnsupported.find(c) != std::string_view::npos || c == ']') return std::nullopt;
    Element element;
    if (c == '?') {
      element.accepts.set();
      ++i;
    } else if (c == '[') {
      ++i;
      if (!ParseSet(text, &i, &element.accepts)) return std::nullopt;
    } else {
      if (c == '\\' && ++i == text.size()) return std::nullopt;
      AddFolded(element.accepts, Byte(text[i++]));
    }
    elements.push_back(element);
  }
  if (elements.empty()) return std::nullopt;
  return expression;
}

bool ResourceExpression::Matches(std::string_view name) const {
  // Dynamic programming from the back, one row per element: later[j] tells
  // whether the elements after this one match name[j..]. Quadratic at worst,
  // where backtracking over repeats could take exponential time.
  const size_t n = name.size();
  std::vector<char> later(n + 1, 0);
  later[n] = 1;
  std::vector<char> here(n + 1, 0);
  std::vector<char> repeated(n + 1, 0);  // zero or more of this element, then the rest
  for (auto element = elements_.rbegin(); element != elements_.rend(); ++element) {
    for (size_t j = n + 1; j-- > 0;) {
      const bool accepted = j < n && element->accepts.test(Byte(name[j]));
      repeated[j] = later[j] || (accepted && repeated[j + 1]);
      switch (element->repeat) {
        case Repeat::kOnce:
          here[j] = accepted && later[j + 1];
          break;
        case Repeat::kZeroOrMore:
          here[j] = repeated[j];
          break;
        case Repeat::kOneOrMore:
          here[j] = accepted && repeated[j + 1];
          break;
      }
    }
    later.swap(here);
  }
  return later[0] != 0;
}

}  // namespace visa_standin
