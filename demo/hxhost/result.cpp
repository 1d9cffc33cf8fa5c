#include "result.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "hxhost_list_reader.h"
#include "velmora/velmora_hx.h"

namespace hxhost {
namespace {

constexpr uint32_t kOpenSessionGroup = 1123;
constexpr uint32_t kSeparatorId = 0xFFFFFFFFu;
constexpr uint32_t kSearchingMarkerId = 7;
constexpr const char *kSearchingMarker = "<Searching for more>";
constexpr const char *kRule = "----------------------------------------";

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Kind(const Entry &e) {
  if (e.IsSearchingMarker()) return "searching";
  if (e.IsSeparator()) return "separator";
  if (e.name) return "name";
  return "host";
}

std::set<std::string> Shown(const std::vector<Entry> &entries) {
  std::set<std::string> names;
  for (const Entry &e : entries) {
    if (e.name && !e.IsSearchingMarker()) {
      names.insert(*e.name + (e.IsOpenSession() ? "  [open session]" : ""));
    }
  }
  return names;
}

}  // namespace

bool Entry::IsOpenSession() const { return group && *group == kOpenSessionGroup; }
bool Entry::IsSeparator() const { return !name && id && *id == kSeparatorId; }
bool Entry::IsSearchingMarker() const {
  return name && *name == kSearchingMarker && id && *id == kSearchingMarkerId;
}

std::vector<Entry> ReadEntries(HxHandle names) {
  std::vector<Entry> entries;
  for (hxhost_list::ListEntry &e : hxhost_list::ReadListEntries(names)) {
    entries.push_back(Entry{std::move(e.n), e.g, e.id});
  }
  return entries;
}

bool StillSearching(const std::vector<Entry> &entries) {
  return std::any_of(entries.begin(), entries.end(),
                     [](const Entry &e) { return e.IsSearchingMarker(); });
}

std::string StatusMeaning(int32_t status) {
  switch (status) {
    case VELMORA_HX_OK: return "ok";
    case VELMORA_HX_BINDING: return "still binding";
    case VELMORA_HX_REFUSED: return "wrong class or mode";
    case VELMORA_HX_OUT_OF_MEMORY: return "out of memory";
    case VELMORA_HX_HOST_FAILURE: return "host failure";
    default: return "open-session query failed";
  }
}

std::string RenderText(const std::vector<Entry> &entries, int32_t status) {
  std::string out;
  for (const Entry &e : entries) {
    if (e.IsSeparator()) {
      out += kRule;
    } else if (e.name) {
      out += *e.name;
      if (e.IsOpenSession()) out += "  [open session]";
    } else if (e.id) {
      // Entries without a name are the host's own (for instance its browse
      // and refresh items); the plug-in only numbers them.
      out += "(host item " + std::to_string(static_cast<int32_t>(*e.id)) + ")";
    } else {
      out += "(empty entry)";
    }
    out += '\n';
  }
  out += "status " + std::to_string(status) + ": " + StatusMeaning(status) + "\n";
  return out;
}

std::string RenderJson(const std::vector<Entry> &entries, int32_t status) {
  std::string out = "{\"status\":" + std::to_string(status) +
                    ",\"meaning\":" + JsonString(StatusMeaning(status)) +
                    ",\"searching\":" + (StillSearching(entries) ? "true" : "false") +
                    ",\"entries\":[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry &e = entries[i];
    out += i == 0 ? "\n  " : ",\n  ";
    out += "{\"kind\":" + JsonString(Kind(e));
    if (e.name) out += ",\"name\":" + JsonString(*e.name);
    if (e.group) out += ",\"g\":" + std::to_string(*e.group);
    if (e.id) out += ",\"id\":" + std::to_string(static_cast<int32_t>(*e.id));
    if (e.IsOpenSession()) out += ",\"sessionOpen\":true";
    out += "}";
  }
  out += entries.empty() ? "]}\n" : "\n]}\n";
  return out;
}

std::string RenderChanges(const std::vector<Entry> &before, const std::vector<Entry> &after) {
  const std::set<std::string> old = Shown(before);
  const std::set<std::string> now = Shown(after);
  std::string out;
  for (const std::string &name : old) {
    if (now.count(name) == 0) out += "- " + name + "\n";
  }
  for (const std::string &name : now) {
    if (old.count(name) == 0) out += "+ " + name + "\n";
  }
  return out;
}

}  // namespace hxhost
