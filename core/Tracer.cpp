#include "QmSecCoreTrc/Tracer.h"

#include "Trace.h"

namespace QmSecCoreTrc {

// Constructed before every other static object of the library (init_priority), so that static
// objects elsewhere in the library may trace while they are built.
namespace detail {
#define QMSEC_TRACE_OBJECT(name, area, category) \
    __attribute__((init_priority(101))) const QmXplTrc::TraceWrapper_t name(area, category)
// An area's operation, init and proc objects.
#define QMSEC_TRACE_AREA(prefix, area)              \
    QMSEC_TRACE_OBJECT(prefix##Operation, area, 7); \
    QMSEC_TRACE_OBJECT(prefix##Init, area, 5);      \
    QMSEC_TRACE_OBJECT(prefix##Proc, area, 3)
QMSEC_TRACE_AREA(auth, "sec.core.auth");
QMSEC_TRACE_AREA(core, "sec.core.base");
QMSEC_TRACE_AREA(io, "sec.core.io");
QMSEC_TRACE_AREA(ssl, "sec.core.ssl");
#undef QMSEC_TRACE_AREA
QMSEC_TRACE_OBJECT(exception, "sec.core.exception", 2);
#undef QMSEC_TRACE_OBJECT
}  // namespace detail

// The public getters of an area's three objects.
#define QMSEC_TRACER_AREA(Name, prefix)                                                    \
    QmXplTrc::TraceObj_t& Tracer::Get##Name##TracerOperation() {                           \
        return detail::prefix##Operation;                                                  \
    }                                                                                      \
    QmXplTrc::TraceObj_t& Tracer::Get##Name##TracerInit() { return detail::prefix##Init; } \
    QmXplTrc::TraceObj_t& Tracer::Get##Name##TracerProc() { return detail::prefix##Proc; }
QMSEC_TRACER_AREA(Auth, auth)
QMSEC_TRACER_AREA(Core, core)
QMSEC_TRACER_AREA(Io, io)
QMSEC_TRACER_AREA(Ssl, ssl)
#undef QMSEC_TRACER_AREA
QmXplTrc::TraceObj_t& Tracer::GetExTracer() { return detail::exception; }

}  // namespace QmSecCoreTrc
