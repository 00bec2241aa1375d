#include "QmSecCoreTrc/Tracer.h"

#include "Trace.h"

namespace QmSecCoreTrc {

// Constructed before every other static object of the library (init_priority), so that static
// objects elsewhere in the library may trace while they are built.
namespace detail {
#define QMSEC_TRACE_OBJECT(name, area, category) \
    __attribute__((init_priority(101))) const QmXplTrc::TraceWrapper_t name(area, category)
QMSEC_TRACE_OBJECT(authOperation, "sec.core.auth", 7);
QMSEC_TRACE_OBJECT(authInit, "sec.core.auth", 5);
QMSEC_TRACE_OBJECT(authProc, "sec.core.auth", 3);
QMSEC_TRACE_OBJECT(coreOperation, "sec.core.base", 7);
QMSEC_TRACE_OBJECT(coreInit, "sec.core.base", 5);
QMSEC_TRACE_OBJECT(coreProc, "sec.core.base", 3);
QMSEC_TRACE_OBJECT(ioOperation, "sec.core.io", 7);
QMSEC_TRACE_OBJECT(ioInit, "sec.core.io", 5);
QMSEC_TRACE_OBJECT(ioProc, "sec.core.io", 3);
QMSEC_TRACE_OBJECT(sslOperation, "sec.core.ssl", 7);
QMSEC_TRACE_OBJECT(sslInit, "sec.core.ssl", 5);
QMSEC_TRACE_OBJECT(sslProc, "sec.core.ssl", 3);
QMSEC_TRACE_OBJECT(exception, "sec.core.exception", 2);
#undef QMSEC_TRACE_OBJECT
}  // namespace detail

QmXplTrc::TraceObj_t& Tracer::GetAuthTracerOperation() { return detail::authOperation; }
QmXplTrc::TraceObj_t& Tracer::GetAuthTracerInit() { return detail::authInit; }
QmXplTrc::TraceObj_t& Tracer::GetAuthTracerProc() { return detail::authProc; }
QmXplTrc::TraceObj_t& Tracer::GetCoreTracerOperation() { return detail::coreOperation; }
QmXplTrc::TraceObj_t& Tracer::GetCoreTracerInit() { return detail::coreInit; }
QmXplTrc::TraceObj_t& Tracer::GetCoreTracerProc() { return detail::coreProc; }
QmXplTrc::TraceObj_t& Tracer::GetIoTracerOperation() { return detail::ioOperation; }
QmXplTrc::TraceObj_t& Tracer::GetIoTracerInit() { return detail::ioInit; }
QmXplTrc::TraceObj_t& Tracer::GetIoTracerProc() { return detail::ioProc; }
QmXplTrc::TraceObj_t& Tracer::GetSslTracerOperation() { return detail::sslOperation; }
QmXplTrc::TraceObj_t& Tracer::GetSslTracerInit() { return detail::sslInit; }
QmXplTrc::TraceObj_t& Tracer::GetSslTracerProc() { return detail::sslProc; }
QmXplTrc::TraceObj_t& Tracer::GetExTracer() { return detail::exception; }

}  // namespace QmSecCoreTrc
