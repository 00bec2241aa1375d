// Trace area of the layer's streams and files.
#pragma once

#include "QmXpl/TraceObj_t.h"

namespace QmXplIo::detail {

// Area "qmxpl.io". Level 2 carries errors that cannot be thrown (a close that fails in a
// destructor, a best-effort directory sync), so that nothing fails unseen.
QmXplTrc::TraceObj_t& IoTrace() noexcept;

// Traces (level 2) "<what>: <text of the exception being handled>"; call from a catch block.
void TraceIgnored(const char* what, const char* file, int line) noexcept;
// Traces (level 2) "<what>: <errno text>".
void TraceIgnoredErrno(const char* what, int err, const char* file, int line) noexcept;

}  // namespace QmXplIo::detail
