// Comparison and printing of the plug-in's list entries, for the tests that
// link its code directly and compare the lists it builds entry by entry.
#ifndef VELMORA_TESTS_PLUGIN_LIST_ENTRIES_H
#define VELMORA_TESTS_PLUGIN_LIST_ENTRIES_H

#include <ostream>
#include <tuple>

#include "plugin/lists/entries.h"

namespace hx {

inline bool operator==(const NameEntry &a, const NameEntry &b) {
  return std::tie(a.name, a.sessionOpen, a.driverClass, a.driverPrefix) ==
         std::tie(b.name, b.sessionOpen, b.driverClass, b.driverPrefix);
}
inline bool operator==(const ResourceEntry &a, const ResourceEntry &b) {
  return std::tie(a.name, a.sessionOpen) == std::tie(b.name, b.sessionOpen);
}
inline void PrintTo(const NameEntry &e, std::ostream *os) {
  *os << "{" << e.name << (e.sessionOpen ? " open" : "") << " " << e.driverClass << "/"
      << e.driverPrefix << "}";
}
inline void PrintTo(const ResourceEntry &e, std::ostream *os) {
  *os << "{" << e.name << (e.sessionOpen ? " open" : "") << "}";
}

}  // namespace hx

#endif
