// How the library's bodies trace: block traces, guarded trace lines and the trace areas.
#pragma once

#include "QmSecCoreTrc/TraceText.h"
#include "QmSecCoreTrc/Tracer.h"
#include "QmXpl/TraceObj_t.h"

namespace QmSecCoreTrc {

// The library's trace objects (defined in Tracer.cpp); reached directly inside the library, so
// that a disabled trace costs a load and a test, not a call.
namespace detail {
extern const QmXplTrc::TraceWrapper_t authOperation, authInit, authProc;
extern const QmXplTrc::TraceWrapper_t coreOperation, coreInit, coreProc;
extern const QmXplTrc::TraceWrapper_t ioOperation, ioInit, ioProc;
extern const QmXplTrc::TraceWrapper_t sslOperation, sslInit, sslProc;
extern const QmXplTrc::TraceWrapper_t exception;
}  // namespace detail

// Levels the library writes at.
inline constexpr uint32_t kLevelProc = 9;        // procedure blocks and initialisation lines
inline constexpr uint32_t kLevelOperation = 25;  // operation lines
inline constexpr uint32_t kLevelThrow = 2;       // the line before each throw

// One subsystem's three trace objects.
struct Area {
    const QmXplTrc::TraceWrapper_t& operation;
    const QmXplTrc::TraceWrapper_t& init;
    const QmXplTrc::TraceWrapper_t& proc;
};
inline const Area kCoreArea{detail::coreOperation, detail::coreInit, detail::coreProc};
inline const Area kIoArea{detail::ioOperation, detail::ioInit, detail::ioProc};
inline const Area kSslArea{detail::sslOperation, detail::sslInit, detail::sslProc};
inline const Area kAuthArea{detail::authOperation, detail::authInit, detail::authProc};

// Writes one line composed by compose(TraceText&) when obj has level on. Composing happens only
// then, and nothing that goes wrong while composing or writing reaches the caller.
template <class Compose>
inline void TraceLine(const QmXplTrc::TraceObj_t& obj, uint32_t level, const char* file, int line,
                      Compose&& compose) noexcept {
    if (!obj.IsOn(level)) return;
    try {
        TraceText text;
        compose(text);
        obj.DoTrace(level, text.GetMsg(), file, line);
    } catch (...) {
        // Tracing never changes an outcome.
    }
}

}  // namespace QmSecCoreTrc

// A block trace on a procedure object for the rest of the scope: QMSEC_BLOCK(kCoreArea.proc,
// "MessageDigestImpl::Update()").
#define QMSEC_BLOCK(procObj, name) \
    const QmXplTrc::BlockTrace_t qmsecBlockTrace_((procObj).Get(), name, __FILE__, __LINE__)

// A trace line built from streamed pieces, composed only when the level is on:
// QMSEC_TRACE(kCoreArea.init, kLevelProc, "Using " << name).
#define QMSEC_TRACE(traceObj, level, pieces)           \
    ::QmSecCoreTrc::TraceLine(                         \
        (traceObj).Get(), (level), __FILE__, __LINE__, \
        [&](::QmSecCoreTrc::TraceText& qmsecText_) { qmsecText_ << pieces; })

// A body's DestroyThis(): deletes the body inside a block trace named name, so that the
// destructor's block nests inside it.
#define QMSEC_DESTROY_THIS(procObj, name) \
    void DestroyThis() override {         \
        QMSEC_BLOCK(procObj, name);       \
        delete this;                      \
    }
