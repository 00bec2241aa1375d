#include <string.h>  // explicit_bzero

#include <climits>
#include <cstring>
#include <memory>

#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/IOException_t.h"

namespace QmXplIo {

using QmXplArray::CharArray_t;
using QmXplMsg::CreateWarn_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::IllegalStateError_t;
using QmXplStr::String_t;

// --- input -------------------------------------------------------------------------------------

class CharArrayInputStreamImpl_t : public InputStreamImpl_t {
  public:
    CharArrayInputStreamImpl_t(const char* data, int size) : data_(data, size) {}
    ~CharArrayInputStreamImpl_t() override { data_.Wipe(); }

    int Read(char* buf, int len) override {
        int left = data_.GetSize() - pos_;
        if (left <= 0) return -1;
        int n = left < len ? left : len;
        std::memcpy(buf, data_.GetData() + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    int Read() override {
        return pos_ < data_.GetSize() ? static_cast<unsigned char>(data_[pos_++]) : -1;
    }
    int Available() override { return data_.GetSize() - pos_; }
    long long Skip(long long n) override {
        long long left = data_.GetSize() - pos_;
        long long step = n < left ? n : left;
        pos_ += static_cast<int>(step);
        return step;
    }

  private:
    CharArray_t data_;
    int pos_ = 0;
};

CharArrayInputStream_t::CharArrayInputStream_t(const CharArray_t& data)
    : InputStream_t(new CharArrayInputStreamImpl_t(data.GetData(), data.GetSize())) {}
CharArrayInputStream_t::CharArrayInputStream_t(const char* data, int size)
    : InputStream_t(new CharArrayInputStreamImpl_t(data, size)) {}
CharArrayInputStream_t::~CharArrayInputStream_t() = default;

// --- output ------------------------------------------------------------------------------------

class CharArrayOutputStreamImpl_t : public OutputStreamImpl_t {
  public:
    explicit CharArrayOutputStreamImpl_t(int initialSize) {
        if (initialSize < 0) {
            throw IllegalArgumentError_t(
                CreateWarn_t(String_t("CharArrayOutputStream_t: negative initial size")));
        }
        capacity_ = initialSize;
        if (capacity_ > 0) buf_.reset(new char[static_cast<size_t>(capacity_)]);
    }
    ~CharArrayOutputStreamImpl_t() override { Wipe(); }

    void Write(const char* buf, int len) override {
        if (closed_)
            throw IOException_t(CreateWarn_t(String_t("CharArrayOutputStream_t is closed")));
        Reserve(len);
        std::memcpy(buf_.get() + size_, buf, static_cast<size_t>(len));
        size_ += len;
    }
    void Write(int byte) override {
        char c = static_cast<char>(byte);
        Write(&c, 1);
    }
    void Close() override { closed_ = true; }

    CharArray_t ToCharArray() const { return CharArray_t(buf_.get(), size_); }
    int GetSize() const noexcept { return size_; }
    void Reset() noexcept {
        if (buf_) explicit_bzero(buf_.get(), static_cast<size_t>(size_));
        size_ = 0;
    }

  private:
    void Reserve(int more) {
        if (more <= capacity_ - size_) return;
        if (more > INT_MAX - size_) {
            throw IOException_t(
                CreateWarn_t(String_t("CharArrayOutputStream_t: more than INT_MAX bytes")));
        }
        long long want = static_cast<long long>(size_) + more;
        long long grown = capacity_ < 64 ? 64 : 2LL * capacity_;
        int cap = static_cast<int>(grown < want ? want : (grown > INT_MAX ? INT_MAX : grown));
        std::unique_ptr<char[]> bigger(new char[static_cast<size_t>(cap)]);
        if (size_ > 0) std::memcpy(bigger.get(), buf_.get(), static_cast<size_t>(size_));
        Wipe();
        buf_ = std::move(bigger);
        capacity_ = cap;
    }
    void Wipe() noexcept {
        if (buf_) explicit_bzero(buf_.get(), static_cast<size_t>(capacity_));
    }

    std::unique_ptr<char[]> buf_;
    int capacity_ = 0;
    int size_ = 0;
    bool closed_ = false;
};

CharArrayOutputStream_t::CharArrayOutputStream_t(int initialSize)
    : OutputStream_t(new CharArrayOutputStreamImpl_t(initialSize)) {}
CharArrayOutputStream_t::~CharArrayOutputStream_t() = default;

CharArrayOutputStreamImpl_t* CharArrayOutputStream_t::ArrayBody() const {
    auto* b = dynamic_cast<CharArrayOutputStreamImpl_t*>(Body());
    if (!b) throw IllegalStateError_t(CreateWarn_t(String_t("CharArrayOutputStream_t")));
    return b;
}

CharArray_t CharArrayOutputStream_t::ToCharArray() const { return ArrayBody()->ToCharArray(); }
int CharArrayOutputStream_t::GetSize() const { return ArrayBody()->GetSize(); }
void CharArrayOutputStream_t::Reset() const { ArrayBody()->Reset(); }

}  // namespace QmXplIo
