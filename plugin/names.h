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

// Makes `key` the name folded as strcasecmp folds it (byte by byte through
// tolower, up to the first NUL). Two names are equal ignoring case exactly
// when their keys are equal, so a hash table of keys answers what a scan with
// strcasecmp would, without comparing every pair. A null name gives "".
void FoldNameKey(const char *name, std::string &key);

}  // namespace hx

#endif
