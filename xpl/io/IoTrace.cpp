#include "io/IoTrace.h"

#include <cstring>
#include <exception>
#include <string>

namespace QmXplIo::detail {

namespace {
// Registered at load like every trace area, so that QMXPL_TRACE and TraceConfig_t reach it before
// the first stream exists; only running out of memory at load could throw here.
QmXplTrc::TraceWrapper_t ioTrace("qmxpl.io", 8);  // NOLINT(cert-err58-cpp)
}  // namespace

QmXplTrc::TraceObj_t& IoTrace() noexcept { return ioTrace; }

void TraceIgnored(const char* what, const char* file, int line) noexcept {
    QmXplTrc::TraceObj_t& t = ioTrace;
    if (!t.IsOn(2)) return;
    try {
        std::string text(what);
        try {
            throw;
        } catch (const std::exception& e) {
            text += ": ";
            text += e.what();
        } catch (...) {
            text += ": unknown exception";
        }
        t.DoTrace(2, text.c_str(), file, line);
    } catch (...) {
        // Tracing never changes an outcome; a line that cannot be composed is lost.
    }
}

void TraceIgnoredErrno(const char* what, int err, const char* file, int line) noexcept {
    QmXplTrc::TraceObj_t& t = ioTrace;
    if (!t.IsOn(2)) return;
    try {
        char buf[256];
        std::string text = std::string(what) + ": " + strerror_r(err, buf, sizeof buf) +
                           " (errno " + std::to_string(err) + ")";
        t.DoTrace(2, text.c_str(), file, line);
    } catch (...) {
        // As above.
    }
}

}  // namespace QmXplIo::detail
