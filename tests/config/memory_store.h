// A working configuration store kept in memory, linked into the tests in
// place of the shipped placeholder back end. It implements every back-end
// operation for real and adds what tests need to watch and steer it:
// - a trace of the operations called, named "<Set>.<slot> <detail>" for the
//   collection tables (e.g. "Session.getString 10") and after the function
//   for the direct operations (e.g. "GetRangeInteger 3");
// - failure injection: make an operation answer a chosen status, on every
//   call or on its n-th one, without doing anything else;
// - hooks that run before the n-th call of an operation (to change the store
//   between two walks, say);
// - counts of the store and object handles handed out and not yet released,
//   and of misuses (a released, unknown or wrong kind of handle passed in).
//
// Files hold one line per item or attribute, fields separated by '|':
//   session|Scope1            starts an item: logicalname, session, driver, device
//   string|2|A description    string property of the item above
//   ref|driver|ScopeDriver    the item of that kind it refers to
//   bool|9|1                  boolean property
//   class|IviScope            a class entry (drivers)
//   channel|CH|1|2|5|5        a channel entry with ranges low|high... (sessions)
// Blank lines and lines starting with '#' are ignored.
#ifndef VELMORA_TESTS_CONFIG_MEMORY_STORE_H
#define VELMORA_TESTS_CONFIG_MEMORY_STORE_H

#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/backend.h"

namespace memstore {

// Statuses the store answers on its own.
enum : int32_t {
  kNotFound = -1101,       // no item, property target, index or file
  kAlreadyExists = -1102,  // addItem with a name in use
  kBadFile = -1103,        // a file line the store cannot read
  kMisuse = -1199,         // a handle that is released, unknown or of the wrong kind
};

enum class Kind { LogicalName, Session, Driver, Device };
const char *KindName(Kind kind);

struct Range {
  int32_t low;
  int32_t high;
};

struct ChannelEntry {
  std::string name;
  std::vector<Range> ranges;
  // What CountRanges answers instead of the number of ranges, when set.
  std::optional<int32_t> reportedRangeCount;
};

struct Item {
  Kind kind;
  std::string name;
  std::map<int32_t, std::string> strings;  // property 1 is `name`, not kept here
  std::map<Kind, std::string> refs;        // name of the referred item per kind
  std::map<int32_t, int32_t> booleans;
  std::vector<std::string> classes;    // drivers
  std::vector<ChannelEntry> channels;  // sessions
};

// The content behind one store handle.
struct Store {
  std::vector<std::shared_ptr<Item>> items[4];
  // The file the store was read from, taken from the descriptor that read it.
  std::optional<velmora::FileIdentity> identity;

  std::vector<std::shared_ptr<Item>> &Of(Kind kind) { return items[static_cast<int>(kind)]; }
  Item *Find(Kind kind, const std::string &name);
  Item &Add(Kind kind, const std::string &name);
};

// Text form of a store's content (see the file format above).
bool Parse(const std::string &text, Store &out);
std::string Serialize(const Store &store);

// Test controls. Reset() brings everything back to a fresh process's state.
void Reset();
void SetDefaultLocations(const std::string &attribute5, const std::string &attribute3);
void AcceptClassNames(const std::vector<std::string> &names);
// nth = 0: every call from now on; nth = k: only the k-th call from now on.
void FailOn(const std::string &operation, int32_t status, int nth = 0);
void OnCall(const std::string &operation, int nth, std::function<void()> hook);

const std::vector<std::string> &Trace();
void ClearTrace();
int CallCount(const std::string &operation);  // calls since the last ClearTrace/Reset
int LiveStores();
int LiveObjects();
int Misuses();
int InitializeCalls();
int EmptyReferenceNotes();

// The content behind a live store handle, or null.
Store *StoreOf(velmora::StoreHandle handle);

}  // namespace memstore

#endif  // VELMORA_TESTS_CONFIG_MEMORY_STORE_H
