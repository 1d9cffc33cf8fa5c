// Display order and case-insensitive matching of the plug-in's names.
//
// Every name that an I/O-name control shows (IVI logical names, driver
// sessions, modular-instrument names, VISA resource names) is sorted by one
// comparator, CompareNames, and open sessions are matched to list entries by
// name ignoring case (the master-list snapshots index their names by
// HashIgnoringCase for that, snapshot.h). Names are NUL-terminated byte strings; case folding is
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

// Appends to `key` the display-order key of `name`: bytes whose order, as
// memcmp compares them (a key that is a prefix of another sorting first),
// is the order of CompareNames. Two names give equal keys exactly when they
// are equal ignoring case. Building keys once and sorting by them is several
// times faster than sorting by CompareNames. A null name counts as "".
//
// Each token of the folded name becomes: a text segment, a marker byte
// (1 when it starts with separators, 3 otherwise), its bytes and a 0; a run
// of digits, the marker 2, the number of significant digits (4 bytes, high
// byte first), the significant digits, and 0xFFFFFFFF less the number of
// leading zeros (4 bytes). Names of 4 GiB or more are not supported.
void AppendSortKey(const char *name, std::string &key);

// A hash of the name folded as strcasecmp folds it: names equal ignoring
// case hash alike, so a table of names can be searched ignoring case without
// folded copies of them. A null name hashes as "".
std::size_t HashIgnoringCase(const char *name) noexcept;

}  // namespace hx

#endif
