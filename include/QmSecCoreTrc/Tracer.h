// The library's trace objects.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/TraceObj_t.h"

namespace QmSecCoreTrc {

// Thirteen trace objects, three per subsystem area (category 7: operations, 5: initialisation,
// 3: procedure blocks) and one for exceptions thrown outside the areas. The library writes
// procedure blocks and initialisation lines at level 9, operation lines at level 25 and the
// line before each throw at level 2. Callers may trace through them in the same style. The
// objects exist from library load until the process ends; the accessors never fail.
class QMSEC_API Tracer {
  public:
    static QmXplTrc::TraceObj_t& GetAuthTracerOperation();  // "sec.core.auth", 7
    static QmXplTrc::TraceObj_t& GetAuthTracerInit();       // "sec.core.auth", 5
    static QmXplTrc::TraceObj_t& GetAuthTracerProc();       // "sec.core.auth", 3
    static QmXplTrc::TraceObj_t& GetCoreTracerOperation();  // "sec.core.base", 7
    static QmXplTrc::TraceObj_t& GetCoreTracerInit();       // "sec.core.base", 5
    static QmXplTrc::TraceObj_t& GetCoreTracerProc();       // "sec.core.base", 3
    static QmXplTrc::TraceObj_t& GetIoTracerOperation();    // "sec.core.io", 7
    static QmXplTrc::TraceObj_t& GetIoTracerInit();         // "sec.core.io", 5
    static QmXplTrc::TraceObj_t& GetIoTracerProc();         // "sec.core.io", 3
    static QmXplTrc::TraceObj_t& GetSslTracerOperation();   // "sec.core.ssl", 7
    static QmXplTrc::TraceObj_t& GetSslTracerInit();        // "sec.core.ssl", 5
    static QmXplTrc::TraceObj_t& GetSslTracerProc();        // "sec.core.ssl", 3
    static QmXplTrc::TraceObj_t& GetExTracer();             // "sec.core.exception", 2
};

}  // namespace QmSecCoreTrc
