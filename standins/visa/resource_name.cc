#include "resource_name.h"

#include <cstddef>
#include <vector>

#include "visa_standin.h"

namespace visa_standin {
namespace {

// One form of resource name: an interface word, a class, and the fields
// between them. Each letter of `fields` is one field, 'n' a decimal number
// and 'a' any text; the first `required` of them must be there. A form with
// `fill` writes it as the last field when that one was left out (a LAN
// instrument's device name).
struct Form {
  std::string_view word;
  uint16_t interfaceType;
  std::string_view resourceClass;
  std::string_view fields;
  size_t required;
  std::string_view fill;
};

// "GPIB-VXI" stands before "GPIB", so that the longer word wins.
constexpr Form kForms[] = {
    {"GPIB-VXI", VI_INTF_GPIB_VXI, "INSTR", "n", 1, ""},
    {"GPIB-VXI", VI_INTF_GPIB_VXI, "MEMACC", "", 0, ""},
    {"GPIB-VXI", VI_INTF_GPIB_VXI, "BACKPLANE", "n", 0, ""},
    {"GPIB", VI_INTF_GPIB, "INSTR", "nn", 1, ""},
    {"GPIB", VI_INTF_GPIB, "INTFC", "", 0, ""},
    {"GPIB", VI_INTF_GPIB, "SERVANT", "", 0, ""},
    {"VXI", VI_INTF_VXI, "INSTR", "n", 1, ""},
    {"VXI", VI_INTF_VXI, "MEMACC", "", 0, ""},
    {"VXI", VI_INTF_VXI, "BACKPLANE", "n", 0, ""},
    {"VXI", VI_INTF_VXI, "SERVANT", "", 0, ""},
    {"ASRL", VI_INTF_ASRL, "INSTR", "", 0, ""},
    {"PXI", VI_INTF_PXI, "INSTR", "aaa", 1, ""},
    {"PXI", VI_INTF_PXI, "MEMACC", "", 0, ""},
    {"PXI", VI_INTF_PXI, "BACKPLANE", "n", 1, ""},
    {"TCPIP", VI_INTF_TCPIP, "INSTR", "aa", 1, "inst0"},
    {"TCPIP", VI_INTF_TCPIP, "SOCKET", "an", 2, ""},
    {"USB", VI_INTF_USB, "INSTR", "aaan", 3, ""},
    {"USB", VI_INTF_USB, "RAW", "aaan", 3, ""},
};

// The class a name without one has.
constexpr std::string_view kDefaultClass = "INSTR";

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool IsNumber(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::vector<std::string_view> Split(std::string_view text) {
  std::vector<std::string_view> tokens;
  for (size_t at = 0;;) {
    const size_t end = text.find("::", at);
    tokens.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return tokens;
    at = end + 2;
  }
}

// The interface word that starts token, when the rest of it is a board
// number (or nothing); writes the board.
const Form *InterfaceOf(std::string_view token, uint16_t *board) {
  for (const Form &form : kForms) {
    if (token.size() < form.word.size() ||
        !EqualFolded(token.substr(0, form.word.size()), form.word)) {
      continue;
    }
    const std::string_view number = token.substr(form.word.size());
    if (number.empty()) {
      *board = 0;
      return &form;
    }
    if (!IsNumber(number) || number.size() > 5) return nullptr;
    const unsigned long value = std::stoul(std::string(number));
    if (value > UINT16_MAX) return nullptr;
    *board = static_cast<uint16_t>(value);
    return &form;
  }
  return nullptr;
}

const Form *FormOf(std::string_view word, std::string_view resourceClass) {
  for (const Form &form : kForms) {
    if (form.word == word && EqualFolded(form.resourceClass, resourceClass)) return &form;
  }
  return nullptr;
}

}  // namespace

ParseResult ParseResourceName(std::string_view text, ResourceName *parsed) {
  const std::vector<std::string_view> tokens = Split(text);
  uint16_t board = 0;
  const Form *interface = InterfaceOf(tokens.front(), &board);
  if (interface == nullptr) {
    // A word of no interface, without "::", may be an alias; this library
    // has none, so it names nothing rather than being malformed.
    return tokens.size() == 1 && !text.empty() ? ParseResult::kUnknown : ParseResult::kMalformed;
  }

  // The last token is the class when it names one of the interface's;
  // otherwise the name has no class word and is an INSTR.
  const Form *form = tokens.size() > 1 ? FormOf(interface->word, tokens.back()) : nullptr;
  size_t fieldsEnd = tokens.size();
  if (form != nullptr) {
    --fieldsEnd;
  } else {
    form = FormOf(interface->word, kDefaultClass);
  }
  const size_t count = fieldsEnd - 1;
  if (form == nullptr || count < form->required || count > form->fields.size()) {
    return ParseResult::kMalformed;
  }
  for (size_t i = 0; i < count; ++i) {
    const std::string_view field = tokens[1 + i];
    if (field.empty() || (form->fields[i] == 'n' && !IsNumber(field))) {
      return ParseResult::kMalformed;
    }
  }

  ResourceName name;
  name.interfaceType = form->interfaceType;
  name.board = board;
  name.resourceClass = std::string(form->resourceClass);
  name.expanded = std::string(form->word) + std::to_string(board);
  for (size_t i = 0; i < count; ++i) name.expanded.append("::").append(tokens[1 + i]);
  if (!form->fill.empty() && count < form->fields.size()) {
    name.expanded.append("::").append(form->fill);
  }
  name.expanded.append("::").append(name.resourceClass);
  name.identity = name.expanded;
  if (form->interfaceType == VI_INTF_GPIB && form->resourceClass == kDefaultClass && count == 2 &&
      tokens[2].find_first_not_of('0') == std::string_view::npos) {
    name.identity = std::string(form->word) + std::to_string(board) +
                    "::" + std::string(tokens[1]) + "::" + name.resourceClass;
  }
  *parsed = std::move(name);
  return ParseResult::kParsed;
}

bool SameResource(const ResourceName &a, const ResourceName &b) {
  return EqualFolded(a.identity, b.identity);
}

}  // namespace visa_standin
