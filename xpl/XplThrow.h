// The one way the portability layer throws its own failures: compose the message, trace it where
// the throwing code traces, then throw.
#pragma once

#include <cstdint>
#include <string>

#include "QmXpl/TraceObj_t.h"

namespace QmXplMsg::detail {

// Where a failure is traced before it is thrown: a trace object, the level, and the place of the
// throw. The streams and sockets pass none: their failures are their caller's to report, and the
// exception is all there is to see of them.
struct ThrowTrace_t {
    const QmXplTrc::TraceObj_t* obj = nullptr;
    uint32_t level = 0;
    const char* file = nullptr;
    int line = 0;
};

// IOException_t for errno err: "<what>: <system text> (errno <err>)". Traces
// "<what>: <system text>".
[[noreturn]] void ThrowErrno(int err, const std::string& what, const ThrowTrace_t& trace = {});
// The same for a file: what is "<what> '<path>'".
[[noreturn]] void ThrowErrno(int err, const std::string& what, const std::string& path);
// FileNotFoundException_t for errno err and a file: "<what> '<path>': <system text> (errno <err>)".
[[noreturn]] void ThrowFileNotFound(int err, const std::string& what, const std::string& path);
// IOException_t "<source>: <text>", an error and a warning.
[[noreturn]] void ThrowIoError(const std::string& source, const std::string& text);
[[noreturn]] void ThrowIoWarning(const std::string& source, const std::string& text);
// IOException_t warning for a file stream used after it was closed:
// "<stream> on '<path>' is closed".
[[noreturn]] void ThrowFileClosed(const std::string& stream, const std::string& path);
// IllegalArgumentError_t with text. Traces "Refused: <text>".
[[noreturn]] void ThrowArgument(const std::string& text, const ThrowTrace_t& trace = {});

}  // namespace QmXplMsg::detail

// The trace of a throw on obj at level, at the place where the macro stands.
#define QMXPL_THROW_TRACE(obj, level) \
    (::QmXplMsg::detail::ThrowTrace_t{&(obj), (level), __FILE__, __LINE__})
