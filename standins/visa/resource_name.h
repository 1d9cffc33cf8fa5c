// Resource names as viParseRsrc, viParseRsrcEx and viOpen read them: the
// interface and its board, the resource class and the name in its full form
// (see visa_standin.h for the forms it accepts).
#ifndef VISA_STANDIN_RESOURCE_NAME_H
#define VISA_STANDIN_RESOURCE_NAME_H

#include <cstdint>
#include <string>
#include <string_view>

namespace visa_standin {

struct ResourceName {
  uint16_t interfaceType = 0;  // VI_INTF_GPIB, VI_INTF_TCPIP, ...
  uint16_t board = 0;          // the number after the interface word, 0 when left out
  std::string resourceClass;   // "INSTR", "SOCKET", ... in capitals
  std::string expanded;        // e.g. "TCPIP0::10.0.0.5::inst0::INSTR"
  // The expanded name as resources are told apart by: a GPIB instrument's
  // secondary address 0 is left out, since PyVISA writes one into every
  // GPIB instrument name it opens ("GPIB0::12::INSTR" becomes
  // "GPIB0::12::0::INSTR") and means the same device.
  std::string identity;
};

enum class ParseResult {
  kParsed,
  kMalformed,  // starts like a resource of a known interface, but is not one
  kUnknown,    // no interface of the standard; an alias would look like this
};

// Reads text as a resource name. The interface word and the class are
// matched in either case and written in capitals in the expanded form; the
// other fields are kept as written.
ParseResult ParseResourceName(std::string_view text, ResourceName *parsed);

// True when two names are the same resource: their identities compare
// equal with ASCII letters in either case, as VISA compares names.
bool SameResource(const ResourceName &a, const ResourceName &b);

}  // namespace visa_standin

#endif
