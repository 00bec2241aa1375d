#include "XplThrow.h"

#include <string.h>

#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"

namespace QmXplMsg::detail {

namespace {

// Writes text when the trace is on; composing it costs nothing otherwise. Never throws: a line
// that cannot be written must not take the place of the failure being thrown.
template <class Compose>
void TraceBefore(const ThrowTrace_t& trace, Compose compose) noexcept {
    if (!trace.obj || !trace.obj->IsOn(trace.level)) return;
    try {
        const std::string text = compose();
        trace.obj->DoTrace(trace.level, text.c_str(), trace.file, trace.line);
    } catch (...) {
        // Out of memory: the exception still says what failed.
    }
}

std::string Quoted(const std::string& what, const std::string& path) {
    return what + " '" + path + "'";
}

}  // namespace

void ThrowErrno(int err, const std::string& what, const ThrowTrace_t& trace) {
    TraceBefore(trace, [&] {
        char buf[256];
        return what + ": " + strerror_r(err, buf, sizeof buf);  // GNU variant returns the text
    });
    throw QmXplIo::IOException_t(CreateSystemError_t(err, String_t(what)));
}

void ThrowErrno(int err, const std::string& what, const std::string& path) {
    ThrowErrno(err, Quoted(what, path));
}

void ThrowFileNotFound(int err, const std::string& what, const std::string& path) {
    throw QmXplIo::FileNotFoundException_t(CreateSystemError_t(err, String_t(Quoted(what, path))));
}

void ThrowIoError(const std::string& source, const std::string& text) {
    throw QmXplIo::IOException_t(CreateError_t(String_t(source + ": " + text)));
}

void ThrowIoWarning(const std::string& source, const std::string& text) {
    throw QmXplIo::IOException_t(CreateWarn_t(String_t(source + ": " + text)));
}

void ThrowFileClosed(const std::string& stream, const std::string& path) {
    throw QmXplIo::IOException_t(CreateWarn_t(String_t(stream + " on '" + path + "' is closed")));
}

void ThrowArgument(const std::string& text, const ThrowTrace_t& trace) {
    TraceBefore(trace, [&] { return "Refused: " + text; });
    throw IllegalArgumentError_t(CreateError_t(String_t(text)));
}

}  // namespace QmXplMsg::detail
