// Display order and case-insensitive matching of the plug-in's names.
//
// Every name that an I/O-name control shows (IVI logical names, driver
// sessions, modular-instrument names, VISA resource names) is sorted by one
// comparator, CompareNames, and open sessions are matched to list entries by
// name ignoring case. Names are NUL-terminated byte strings; case folding is
// the C library's tolower, byte by byte, as strcasecmp does it.
//
// Nothing here throws, takes a lock or keeps state between calls; the
// functions may run on any thread as long as the lists they are given are not
// changed meanwhile.
#ifndef VELMORA_PLUGIN_NAMES_H
#define VELMORA_PLUGIN_NAMES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/entries.h"

namespace hx {

// The characters that end a text segment of a name: the four separators (CR,
// LF, '.', '\'), the ten digits, and the four separators once more, so that
// the last four characters alone are the separator set.
inline constexpr char kNameBreakCharacters[] = "\r\n.\\0123456789\r\n.\\";
inline constexpr std::size_t kNameBreakCharacterCount = sizeof(kNameBreakCharacters) - 1;
static_assert(kNameBreakCharacterCount == 18, "four separators, ten digits, four separators");

// True for the four name separators: carriage return, line feed, '.' and '\'.
bool IsNameSeparator(char c) noexcept;

// The display order of names. Answers a negative value when a sorts before b,
// 0 when the two are equal ignoring case (strcasecmp would answer 0), and a
// positive value when a sorts after b; only the sign carries meaning.
//
// Case never counts; where both names have a run of digits at the same point
// the runs compare by value, and of two equal values the one written with
// more leading zeros sorts first, decided at once ("a01c" before "a1b"). A
// separator run (CR, LF, '.', '\') sorts before a digit, a digit before any
// other byte; other text compares by byte value, and a name that is a prefix
// of the other sorts first. The order is a strict weak ordering in which only
// names equal ignoring case are equivalent, so it is safe for std::sort.
//
// Allocates nothing. A null pointer counts as the empty name.
int32_t CompareNames(const char *a, const char *b) noexcept;

// Puts a list in display order: std::sort (not stable) with "a before b when
// CompareNames(a.name, b.name) < 0". Entries whose names are equal ignoring
// case end up next to each other in no particular order.
void SortNameEntries(NameList &list);
void SortResourceEntries(ResourceList &list);

// The first entry in [first, last) whose name equals key under strcasecmp,
// scanning in order; last when there is none. A null key matches nothing.
NameList::iterator FindNameEntry(NameList::iterator first, NameList::iterator last,
                                 const char *key) noexcept;
NameList::const_iterator FindNameEntry(NameList::const_iterator first,
                                       NameList::const_iterator last, const char *key) noexcept;
ResourceList::iterator FindResourceEntry(ResourceList::iterator first, ResourceList::iterator last,
                                         const char *key) noexcept;
ResourceList::const_iterator FindResourceEntry(ResourceList::const_iterator first,
                                               ResourceList::const_iterator last,
                                               const char *key) noexcept;

// A case-insensitive index of a list's names, for merges whose linear
// searches would be quadratic (thousands of installed devices against
// hundreds of open sessions).
//
// The index mirrors positions 0 .. Size()-1 of one NameList or ResourceList:
// it holds, for every name (folded as strcasecmp folds it), the ascending
// positions of the entries that carry it. Find(key, from) answers exactly
// what FindNameEntry(begin + from, begin + Size(), key) - begin would, or
// npos where that would be the end. When an entry is appended to the list,
// Append its name so that later searches see it.
//
// The index copies the names it holds; it does not refer into the list, so
// growing the list does not invalidate it. Building and Append allocate
// (std::bad_alloc may escape them); Find does not.
class NameIndex {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  NameIndex() = default;
  explicit NameIndex(const NameList &list);
  explicit NameIndex(const ResourceList &list);

  // Records that the mirrored list gained an entry named name at position
  // Size(). The name is read up to its first NUL, as strcasecmp reads it.
  void Append(const std::string &name);

  // The first position p with from <= p < Size() whose name equals key
  // ignoring case, or npos. A null key matches nothing.
  std::size_t Find(const char *key, std::size_t from = 0) const noexcept;

  // Number of list positions the index mirrors.
  std::size_t Size() const noexcept { return size_; }

 private:
  // strcasecmp's own order, usable with a C string on either side so that
  // a look-up needs no std::string of the key.
  struct FoldedLess {
    using is_transparent = void;
    bool operator()(const std::string &a, const std::string &b) const noexcept;
    bool operator()(const std::string &a, const char *b) const noexcept;
    bool operator()(const char *a, const std::string &b) const noexcept;
  };

  std::map<std::string, std::vector<std::size_t>, FoldedLess> positions_;
  std::size_t size_ = 0;
};

}  // namespace hx

#endif
