#include "FilterStreamBodies.h"

namespace QmSecIo::detail {

void TraceDeferredFailure(const char* where) noexcept {
    try {
        throw;
    } catch (const QmXplMsg::Exception_t& e) {
        QMSEC_TRACE(QmSecCoreTrc::kIoArea.operation, QmSecCoreTrc::kLevelThrow,
                    where << ": the wrapped stream failed after bytes were delivered; they are "
                             "returned and the failure is left to the next read: "
                          << e);
    } catch (...) {
        QMSEC_TRACE(QmSecCoreTrc::kIoArea.operation, QmSecCoreTrc::kLevelThrow,
                    where << ": the wrapped stream failed after bytes were delivered; they are "
                             "returned and the failure is left to the next read");
    }
}

}  // namespace QmSecIo::detail
