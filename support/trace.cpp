#include "support/trace.h"

#include <cstdarg>
#include <cstdio>

namespace {

using TraceFormatter = int (*)(char *buffer, std::size_t size, const char *format,
                               std::va_list arguments);
using TraceOutput = int (*)(const char *text);

int write_to_stderr(const char *text) { return std::fputs(text, stderr); }

struct TraceSettings {
  std::int32_t threshold;
  TraceFormatter format;
  TraceOutput output;
};

// Fixed when the library is loaded and never written afterwards, so every
// thread may read them without a lock.
const TraceSettings kTraceSettings{kQxsdbgThreshold, vsnprintf, write_to_stderr};

}  // namespace

void qxsdbg_Trace(std::int32_t level, const char *format, ...) noexcept {
  if (level < kTraceSettings.threshold || format == nullptr) return;
  char line[kQxsdbgLineSize];
  line[0] = '\0';  // a formatter that fails outright leaves an empty text
  std::va_list arguments;
  va_start(arguments, format);
  kTraceSettings.format(line, sizeof line, format, arguments);
  va_end(arguments);
  // Whatever the formatter did, the text ends within the buffer.
  line[kQxsdbgLineSize - 1] = '\0';
  // One output call per text, so concurrent traces never interleave inside one.
  kTraceSettings.output(line);
}
