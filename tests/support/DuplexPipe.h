// An in-memory duplex connection pair: what one end writes, the other reads. For TLS tests that
// need no sockets, and for transports that hand bytes over in odd pieces.
#pragma once

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "QmXpl/Connection_t.h"
#include "QmXpl/IOException_t.h"

namespace qmsec_test {

// How a pipe hands bytes over: at most maxRead bytes per read, and with randomShort a random
// count between 1 and that (writes are then split the same way, with a yield between pieces).
struct PipeShape {
    int maxRead = INT_MAX;
    bool randomShort = false;
};

// One direction: a queue of bytes. Read blocks until there are bytes or the writer closed.
class BytePipe {
  public:
    void Write(const char* data, int length) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            throw QmXplIo::IOException_t(QmXplMsg::Message_t(QmXplStr::String_t("pipe closed"),
                                                             QmXplMsg::Severity_t::eError));
        bytes_.insert(bytes_.end(), data, data + length);
        ready_.notify_all();
    }
    int Read(char* buffer, int length) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return !bytes_.empty() || closed_; });
        if (bytes_.empty()) return -1;
        int n = std::min<int>(length, static_cast<int>(bytes_.size()));
        std::copy_n(bytes_.begin(), n, buffer);
        bytes_.erase(bytes_.begin(), bytes_.begin() + n);
        return n;
    }
    int Available() {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(bytes_.size());
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<char> bytes_;
    bool closed_ = false;
};

namespace detail {

class Piece {
  public:
    explicit Piece(PipeShape shape) : shape_(shape), random_(std::random_device{}()) {}
    int Next(int length) {
        int most = std::min(length, shape_.maxRead);
        if (!shape_.randomShort || most <= 1) return most;
        return std::uniform_int_distribution<int>(1, most)(random_);
    }

  private:
    PipeShape shape_;
    std::mt19937 random_;
};

class PipeInput : public QmXplIo::InputStreamImpl_t {
  public:
    PipeInput(std::shared_ptr<BytePipe> pipe, PipeShape shape)
        : pipe_(std::move(pipe)), piece_(shape) {}
    int Read(char* buffer, int length) override { return pipe_->Read(buffer, piece_.Next(length)); }
    int Available() override { return pipe_->Available(); }

  private:
    std::shared_ptr<BytePipe> pipe_;
    Piece piece_;
};

class PipeOutput : public QmXplIo::OutputStreamImpl_t {
  public:
    PipeOutput(std::shared_ptr<BytePipe> pipe, PipeShape shape)
        : pipe_(std::move(pipe)), piece_(shape), shape_(shape) {}
    void Write(const char* data, int length) override {
        while (length > 0) {
            int n = shape_.randomShort ? piece_.Next(length) : length;
            pipe_->Write(data, n);
            data += n;
            length -= n;
            if (shape_.randomShort) std::this_thread::yield();
        }
    }
    void Close() override { pipe_->Close(); }

  private:
    std::shared_ptr<BytePipe> pipe_;
    Piece piece_;
    PipeShape shape_;
};

class PipeConnection : public QmXplIo::ConnectionImpl_t {
  public:
    PipeConnection(std::shared_ptr<BytePipe> in, std::shared_ptr<BytePipe> out, PipeShape shape)
        : in_(std::move(in)), out_(std::move(out)), shape_(shape) {}
    QmXplIo::InputStream_t GetInputStream() override {
        return QmXplIo::InputStream_t(new PipeInput(in_, shape_));
    }
    QmXplIo::OutputStream_t GetOutputStream() override {
        return QmXplIo::OutputStream_t(new PipeOutput(out_, shape_));
    }
    // Like a socket: the peer reads the end, and this end's reads end too.
    void Close() override {
        out_->Close();
        in_->Close();
    }

  private:
    std::shared_ptr<BytePipe> in_, out_;
    PipeShape shape_;
};

}  // namespace detail

// Two connected ends.
inline std::pair<QmXplIo::Connection_t, QmXplIo::Connection_t> MakeDuplexPair(
    PipeShape shape = {}) {
    auto ab = std::make_shared<BytePipe>();
    auto ba = std::make_shared<BytePipe>();
    return {QmXplIo::Connection_t(new detail::PipeConnection(ba, ab, shape)),
            QmXplIo::Connection_t(new detail::PipeConnection(ab, ba, shape))};
}

}  // namespace qmsec_test
