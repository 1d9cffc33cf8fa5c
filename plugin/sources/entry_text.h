// The fixed-size text buffers that the configuration and VISA entries fill.
#ifndef VELMORA_PLUGIN_SOURCES_ENTRY_TEXT_H
#define VELMORA_PLUGIN_SOURCES_ENTRY_TEXT_H

#include <cstdint>
#include <cstring>
#include <string>

namespace hx {

// Size of every name buffer handed to a configuration or VISA entry: the
// look-ups of the IVI list builder, and the VISA names of the find-list
// protocol (the callers of IviIni_GetNumberOfVisaNames and
// IviIni_GetNextVisaName provide buffers of this size too).
constexpr uint32_t kEntryTextSize = 256;

// A buffer of kEntryTextSize bytes for an entry to fill; the text ends at
// the first NUL or at the end of the buffer, whichever comes first, so an
// entry that fills all of it is not read past. It starts as the empty text;
// the bytes after the first are never read before the entry writes them, so
// they are not cleared (a rebuild fills four of these per logical name).
class EntryText {
 public:
  EntryText() { bytes_[0] = '\0'; }
  char *data() { return bytes_; }
  std::string str() const { return std::string(bytes_, strnlen(bytes_, sizeof bytes_)); }

 private:
  char bytes_[kEntryTextSize];
};

}  // namespace hx

#endif
