// The records of the plug-in's name lists.
#ifndef VELMORA_PLUGIN_ENTRIES_H
#define VELMORA_PLUGIN_ENTRIES_H

#include <string>
#include <vector>

namespace hx {

// A name offered to an I/O-name control: an IVI logical name, an installed
// modular instrument or an open session. driverClass and driverPrefix are what
// the "typeClass" filter compares against.
struct NameEntry {
  std::string name;
  bool sessionOpen = false;
  std::string driverClass;
  std::string driverPrefix;
};

// A VISA resource name or an open VISA session.
struct ResourceEntry {
  std::string name;
  bool sessionOpen = false;
};

using NameList = std::vector<NameEntry>;
using ResourceList = std::vector<ResourceEntry>;

}  // namespace hx

#endif
