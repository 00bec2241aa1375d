// An input stream for the signer and verifier tests: hands out fixed bytes, records the length
// of every read asked for, and can fail with IOException_t once a given number of bytes is out.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "QmXpl/IOException_t.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/Message_t.h"

namespace message_test {

class RecordingInputImpl : public QmXplIo::InputStreamImpl_t {
  public:
    explicit RecordingInputImpl(std::string data, long failAt = -1)
        : data_(std::move(data)), failAt_(failAt) {}
    int Read(char* buf, int len) override {
        asked.push_back(len);
        if (failAt_ >= 0 && pos_ >= static_cast<size_t>(failAt_)) {
            throw QmXplIo::IOException_t(
                QmXplMsg::CreateError_t(QmXplStr::String_t("recording stream: disk gone")));
        }
        if (pos_ >= data_.size()) return -1;
        // Short reads on purpose: callers must not count on full ones.
        size_t n = std::min({static_cast<size_t>(len), data_.size() - pos_, size_t{100}});
        std::memcpy(buf, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<int>(n);
    }
    int Available() override { return static_cast<int>(data_.size() - pos_); }
    void Close() override {}

    std::vector<int> asked;  // the length of every Read call

  private:
    std::string data_;
    size_t pos_ = 0;
    long failAt_;
};

}  // namespace message_test
