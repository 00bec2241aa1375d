#include "io/FileMode.h"

#include "QmXpl/Message_t.h"

namespace QmXplIo::detail {

void CheckFileMode(int mode) {
    if (mode < 0 || mode > 07777) {
        throw QmXplMsg::IllegalArgumentError_t(QmXplMsg::CreateWarn_t(
            QmXplStr::String_t("File permissions must lie between 0 and 07777")));
    }
}

}  // namespace QmXplIo::detail
