#include "QmXpl/IOException_t.h"
#include "xpl/IoTestUtil.h"

namespace iotest {

void RecordingOutputImpl::Write(const char* buf, int len) {
    if (failAfter >= 0 && static_cast<long>(data.size()) + len > failAfter) {
        throw QmXplIo::IOException_t(
            QmXplMsg::CreateError_t(QmXplStr::String_t("recording stream: simulated failure")));
    }
    writes.push_back(len);
    data.append(buf, static_cast<size_t>(len));
}

}  // namespace iotest
