// The heart of both TLS engines: an OpenSSL session over a BIO pair, pumped to byte streams.
#pragma once

#include "OpenSsl.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/OutputStream_t.h"

namespace QmSecSsl {

// OpenSSL talks to the inner half of a BIO pair; the pump moves records between the outer half
// and a transport's streams. The transport reads into and writes from the pair's own buffers
// (BIO_nwrite0/BIO_nread0): the pump copies no record of its own and allocates nothing per record.
// It throws nothing of its own: each engine turns the outcomes into its own exceptions. Exceptions
// of the transport's streams pass through. One thread at a time.
class SslBioPump {
  public:
    enum Op : int { eConnect = 0, eAccept = 1, eRead = 2, eWrite = 3, eShutdown = 4 };
    enum Outcome : int {
        kDone,     // the operation completed and its records are on the transport
        kFailed,   // OpenSSL failed the operation (its alert was still sent, if possible)
        kEnded,    // the transport's input ended while OpenSSL waited for bytes
        kRefused,  // the pair did not take all inbound bytes
    };
    // pumpBlock: the block trace each pump step writes.
    explicit SslBioPump(const char* pumpBlock) noexcept : pumpBlock_(pumpBlock) {}
    SslBioPump(const SslBioPump&) = delete;
    SslBioPump& operator=(const SslBioPump&) = delete;

    void SetStreams(QmXplIo::InputStream_t input, QmXplIo::OutputStream_t output);
    // Takes ssl and joins it to a new BIO pair. False (the OpenSSL error queued) when the pair
    // cannot be made; ssl is then still taken.
    bool Attach(QmSecCore::ossl::Ssl ssl);

    // Runs op until OpenSSL completes it, pumping records as it asks; result: OpenSSL's result.
    // A shutdown is done once close_notify is queued. op must be one of Op.
    Outcome Run(Op op, const char* writeBuffer, char* readBuffer, int length, int& result);
    // One pump step: pending records to the transport, then what OpenSSL asked for (or, with
    // wantRead and no request, what fits) from it. kDone, kEnded or kRefused.
    Outcome Pump(bool wantRead = false);
    // Takes in whatever the transport has ready without waiting (TLS 1.3 session tickets).
    void TakeAvailable();
    // After a fatal error: OpenSSL's alert still reaches the peer, if the transport takes it.
    void DeliverAlert() noexcept;

    SSL* Ssl() const noexcept { return ssl_.get(); }
    // SSL_get_error of the last OpenSSL call of Run: SSL_ERROR_ZERO_RETURN after the peer's
    // close_notify, which alone is a clean end of the stream.
    int LastError() const noexcept { return lastError_; }
    QmXplIo::InputStream_t& Input() noexcept { return input_; }
    QmXplIo::OutputStream_t& Output() noexcept { return output_; }

  private:
    void DrainOutbound();

    const char* pumpBlock_;
    QmSecCore::ossl::Ssl ssl_;
    QmSecCore::ossl::Bio network_;  // the transport-facing half; the SSL owns the other
    QmXplIo::InputStream_t input_;
    QmXplIo::OutputStream_t output_;
    int lastError_ = SSL_ERROR_NONE;
    size_t unmet_ = 0;  // what OpenSSL asked for when the transport last failed to deliver
};

}  // namespace QmSecSsl
