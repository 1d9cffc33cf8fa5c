// Quoted names and values, both ways. A name or value that blanks around it
// would lose, or that could be misread, is written between double quotes,
// with \" for a quote and \\ for a backslash inside; no other escape exists.
// The parser reads with ScanQuoted and DecodeQuoted, the writer and the
// length checks of edits write with NeedsQuotes, EncodedLength and
// WriteEncoded: the rule lives here alone.
#ifndef VELMORA_CONFIG_STORE_FILE_VALUE_QUOTING_H
#define VELMORA_CONFIG_STORE_FILE_VALUE_QUOTING_H

#include <stddef.h>
#include <stdint.h>

#include "config/store_file/store_types.h"

namespace velmora {
namespace store {

struct QuotedText {
  const char *closing;     // the closing quote
  uint32_t decodedLength;  // bytes once the escapes are resolved
  bool escaped;            // false: the text between the quotes is the value itself
};

// Scans a quoted string whose opening quote is at `open`, within [open, end).
// On failure answers false and names the problem.
bool ScanQuoted(const char *open, const char *end, QuotedText *quoted, const char **problem);

// Writes the decoded text of a scanned string (decodedLength bytes) to `out`.
void DecodeQuoted(const char *open, const QuotedText &quoted, char *out);

enum class QuoteRule {
  kValue,  // quoted when it starts with a quote or has blanks at either end
  kName,   // also when it holds ']', which would end a header early
};

// Whether `text` must be written between quotes under `rule`.
bool NeedsQuotes(const char *text, size_t length, QuoteRule rule);

// The bytes `text` takes once written under `rule`, quotes included.
size_t EncodedLength(const char *text, size_t length, QuoteRule rule);

// Writes `text` under `rule`, in quotes with escapes where needed.
bool WriteEncoded(TextView text, QuoteRule rule, PieceWriter write, void *context);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_VALUE_QUOTING_H
