// Body of Base64.
#pragma once

#include "OpenSsl.h"
#include "QmSecCore/Base64.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecCore {

// Base64 through OpenSSL's EVP encoding context, in its line format (64 characters and a line
// feed per line).
class Base64Impl : public ObjectImpl {
  public:
    explicit Base64Impl(Base64::OpMode mode);
    ~Base64Impl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "Base64Impl::DestroyThis()")

    void Reset(Base64::OpMode mode);
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset);
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset);

    // Room that Update needs at the output offset for n more input bytes, whatever the codec
    // holds buffered from earlier calls (the terminating zero OpenSSL writes after the encoded
    // lines included).
    static long long EncodeRoom(long long n) noexcept {
        return n / 48 * 65 + 1 + (n % 48 != 0 ? 65 : 0);
    }
    static long long DecodeRoom(long long n) noexcept { return n / 4 * 3 + n % 4 + 49; }
    // Room that DoFinal needs at the output offset.
    static constexpr int kEncodeFinalRoom = 66;
    static constexpr int kDecodeFinalRoom = 49;

  private:
    void Init();
    // Reports the produced count unless it exceeds the room written into (which the room
    // computations above exclude; checked all the same).
    static int CheckOverrun(int produced, const QmXplArray::CharArray_t& out, int outOffset);

    // Decodes length bytes at in (see Update) and returns the bytes written at write.
    int Decode(const unsigned char* in, int length, unsigned char* write);

    // Where the decoded text has ended. OpenSSL's decoder forgets this between calls (it stops at
    // an end marker '-' and refuses data after padding only within one call); the codec keeps
    // it, so that a text gives the same result however it is split.
    enum class End : unsigned char { kNone, kPadding, kMarker };

    bool encode_ = true;
    End end_ = End::kNone;
    ossl::EncodeCtx ctx_;
};

}  // namespace QmSecCore
