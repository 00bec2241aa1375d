#include "Throw.h"

namespace QmSecCore::detail {

void TraceThrow(const QmXplTrc::TraceObj_t& obj, const char* exceptionName,
                const QmXplMsg::Message_t& message, const char* file, int line) noexcept {
    if (!obj.IsOn(QmSecCoreTrc::kLevelThrow)) return;
    try {
        QmSecCoreTrc::TraceText text;
        text << "Throwing exception '" << exceptionName << "': " << message;
        obj.Trace(QmSecCoreTrc::kLevelThrow, text.GetMsg(), file, line);
    } catch (...) {
        // The exception about to be thrown matters more than its trace line.
    }
}

}  // namespace QmSecCore::detail
