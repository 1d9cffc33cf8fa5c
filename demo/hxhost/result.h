// What the plug-in answered, in the forms hxhost shows it.
#ifndef VELMORA_DEMO_HXHOST_RESULT_H
#define VELMORA_DEMO_HXHOST_RESULT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host_api.h"

namespace hxhost {

// One entry of a name-list handle with the attributes the plug-in sets.
struct Entry {
  std::optional<std::string> name;  // "n"
  std::optional<uint32_t> group;    // "g": 1123 marks an open session
  std::optional<uint32_t> id;       // "id": separators, marker, tail entries

  bool IsOpenSession() const;
  bool IsSeparator() const;
  bool IsSearchingMarker() const;
};

// Reads the entries of a result handle up to its count.
std::vector<Entry> ReadEntries(HxHandle names);

bool StillSearching(const std::vector<Entry> &entries);

// The meaning of a GetIOControlNames status, in a few words.
std::string StatusMeaning(int32_t status);

// The list as a control shows it: one name per line in the returned order,
// open sessions marked, separators as rules, the searching marker, then the
// status and its meaning.
std::string RenderText(const std::vector<Entry> &entries, int32_t status);

// The same as one JSON object for scripts.
std::string RenderJson(const std::vector<Entry> &entries, int32_t status);

// The names (with their open marks) that appeared or disappeared between two
// answers, one "+ name" or "- name" line each; empty when nothing changed.
std::string RenderChanges(const std::vector<Entry> &before, const std::vector<Entry> &after);

}  // namespace hxhost

#endif
