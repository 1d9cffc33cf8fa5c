// qxsdbg: the debug trace. A call at or above the trace threshold formats its
// text into a 512-byte stack buffer (cut to 511 characters) and writes it to
// standard error in a single output call, adding no line end. The threshold
// and the format and output functions are fixed when the library is loaded.
// Any thread may trace at any time.
#ifndef VELMORA_SUPPORT_TRACE_H
#define VELMORA_SUPPORT_TRACE_H

#include <cstddef>
#include <cstdint>

// Calls below this level write nothing.
inline constexpr std::int32_t kQxsdbgThreshold = 4096;
// Size of the line buffer; a text keeps at most kQxsdbgLineSize - 1 characters.
inline constexpr std::size_t kQxsdbgLineSize = 512;

// Line types of the trace facility. They carry type information only.
struct qxsdbg_VarLine {};
struct qxsdbg_VarLineToBuffer : qxsdbg_VarLine {};

// Writes the printf-style text when level >= kQxsdbgThreshold; below it the
// arguments are not looked at. A null format writes nothing.
void qxsdbg_Trace(std::int32_t level, const char *format, ...) noexcept
    __attribute__((format(printf, 2, 3)));

#endif  // VELMORA_SUPPORT_TRACE_H
