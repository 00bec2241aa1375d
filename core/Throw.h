// The one way the library throws: trace the line, then throw.
#pragma once

#include "CatalogTable.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/TraceObj_t.h"
#include "Trace.h"

namespace QmSecCore::detail {

// Writes "Throwing exception '<name>': <message>" at level 2 on obj, if that level is on.
// Never throws itself.
void TraceThrow(const QmXplTrc::TraceObj_t& obj, const char* exceptionName,
                const QmXplMsg::Message_t& message, const char* file, int line) noexcept;

template <class Exception>
[[noreturn]] void Throw(const QmXplTrc::TraceObj_t& obj, const char* exceptionName,
                        const QmXplMsg::Message_t& message, const char* file, int line) {
    TraceThrow(obj, exceptionName, message, file, line);
    throw Exception(message);
}

}  // namespace QmSecCore::detail

// QMSEC_THROW(kCoreArea, IllegalArgumentError_t, CatalogMessage(42)): traces on the area's
// operation object and throws. The exception's name in the trace is the type as written here.
#define QMSEC_THROW(area, ExceptionType, message)                                                \
    ::QmSecCore::detail::Throw<ExceptionType>((area).operation.Get(), #ExceptionType, (message), \
                                              __FILE__, __LINE__)

// The same for a catalog message number with inserts: QMSEC_THROW_MSG(kCoreArea,
// IllegalArgumentError_t, 74, << 24).
#define QMSEC_THROW_MSG(area, ExceptionType, number, inserts) \
    QMSEC_THROW(area, ExceptionType, (::QmSecCore::detail::CatalogMessage(number) inserts))
