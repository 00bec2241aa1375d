#include "Base64Impl.h"

#include <openssl/err.h>

#include <climits>
#include <cstring>

#include "ArgumentChecks.h"
#include "QmXpl/IOException_t.h"
#include "StableInput.h"
#include "TransformFamily.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelProc;
using QmXplArray::CharArray_t;
using QmXplMsg::Exception_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::RuntimeException_t;

// --- handle ----------------------------------------------------------------------------------

Base64::Base64(OpMode mode) : Object(new Base64Impl(mode)) {}
Base64::~Base64() = default;

Base64Impl* Base64::Body() const { return GetBody<Base64Impl>("Base64"); }

void Base64::Reset(OpMode mode) const { Body()->Reset(mode); }

QMSEC_DEFINE_TRANSFORM_FAMILY(Base64, Base64Impl, kCoreArea, const)

// --- body ------------------------------------------------------------------------------------

Base64Impl::Base64Impl(Base64::OpMode mode) : encode_(mode == Base64::eEncode) {
    QMSEC_BLOCK(kCoreArea.proc, "Base64Impl Constructor");
    Initializer::Ensure();
    ctx_.reset(EVP_ENCODE_CTX_new());
    if (!ctx_) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 145, );
    Init();
}

Base64Impl::~Base64Impl() { QMSEC_BLOCK(kCoreArea.proc, "Base64Impl Destructor"); }

void Base64Impl::Init() {
    QMSEC_BLOCK(kCoreArea.proc, "Base64Impl::Init() ");
    end_ = End::kNone;
    if (encode_) {
        QMSEC_TRACE(kCoreArea.init, kLevelProc, "Base64Impl: Operating in Encoding mode");
        EVP_EncodeInit(ctx_.get());
    } else {
        QMSEC_TRACE(kCoreArea.init, kLevelProc, "Base64Impl: Operating in Decoding mode");
        EVP_DecodeInit(ctx_.get());
    }
}

void Base64Impl::Reset(Base64::OpMode mode) {
    QMSEC_BLOCK(kCoreArea.proc, "Base64Impl::Reset()");
    encode_ = mode == Base64::eEncode;
    Init();
}

int Base64Impl::CheckOverrun(int produced, const CharArray_t& out, int outOffset) {
    if (produced < 0 || produced > out.GetSize() - outOffset) {
        QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 11, << produced << out.GetSize());
    }
    return produced;
}

int Base64Impl::Update(const char* in, int length, CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "Base64Impl::Update()");
    detail::CheckBufferArgs(kCoreArea, in, length, out, outOffset);
    if (length == 0) return 0;  // OpenSSL's encoder counts an empty update as a failure
    long long room = encode_ ? EncodeRoom(length) : DecodeRoom(length);
    detail::CheckOutputEnd(kCoreArea, outOffset, room);
    detail::StableInput stable(in, length, out);
    auto* write = detail::OutputRoom(kCoreArea, out, outOffset, room);
    auto* read = reinterpret_cast<const unsigned char*>(in);
    int produced = 0;
    if (encode_) {
        // Fails only when the output would exceed the largest int, which the check above
        // excludes.
        if (EVP_EncodeUpdate(ctx_.get(), write, &produced, read, length) != 1)
            QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 9, );
    } else {
        produced = Decode(read, length, write);
    }
    return CheckOverrun(produced, out, outOffset);
}

int Base64Impl::Decode(const unsigned char* in, int length, unsigned char* write) {
    if (end_ == End::kMarker) return 0;  // everything after the end marker is ignored
    // Only the input up to an end marker counts; the marker itself tells OpenSSL to finish.
    const void* marker = std::memchr(in, '-', static_cast<size_t>(length));
    int take =
        marker ? static_cast<int>(static_cast<const unsigned char*>(marker) - in) + 1 : length;
    int produced = 0;
    bool bad = false;
    if (end_ == End::kPadding) {
        // A group completed with padding ended the text: only white space may follow.
        for (int i = 0; i < take && !bad; ++i)
            bad = in[i] != ' ' && in[i] != '\t' && in[i] != '\n' && in[i] != '\r' && in[i] != '-';
    } else {
        int result = EVP_DecodeUpdate(ctx_.get(), write, &produced, in, take);
        bad = result < 0;
        if (result == 0) end_ = End::kPadding;  // ended by padding, or by the marker (set below)
    }
    if (bad) {
        // The decoder reports bad characters without queueing an OpenSSL error; say what it
        // means then rather than quoting an empty queue.
        std::string reason = ERR_peek_error() != 0 ? ossl::ErrorText() : "invalid Base64 input";
        Init();
        QMSEC_THROW_MSG(kCoreArea, QmXplIo::IOException_t, 10, << reason);
    }
    if (marker) end_ = End::kMarker;
    return produced;
}

int Base64Impl::DoFinal(CharArray_t& out, int outOffset) {
    QMSEC_BLOCK(kCoreArea.proc, "Base64Impl::DoFinal()");
    detail::CheckBufferArgs(kCoreArea, nullptr, 0, out, outOffset);
    auto* write = detail::OutputRoom(kCoreArea, out, outOffset,
                                     encode_ ? kEncodeFinalRoom : kDecodeFinalRoom);
    int produced = 0;
    if (encode_) {
        EVP_EncodeFinal(ctx_.get(), write, &produced);
    } else if (EVP_DecodeFinal(ctx_.get(), write, &produced) < 0) {
        Init();
        QMSEC_THROW_MSG(kCoreArea, Exception_t, 13, );
    }
    Init();
    return CheckOverrun(produced, out, outOffset);
}

}  // namespace QmSecCore
