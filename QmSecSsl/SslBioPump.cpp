#include "SslBioPump.h"

#include <openssl/err.h>
#include <openssl/ssl3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "Trace.h"

namespace QmSecSsl {

namespace ossl = QmSecCore::ossl;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;

namespace {

// A transport that keeps answering a read with no bytes must not spin a core: wait a little
// longer each time, up to 50 ms.
void BackOff(int zeroReads) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(zeroReads, 50)));
}

// The body length of the record whose header OpenSSL just asked for and received whole, or 0
// when the bytes do not look like a record header (then OpenSSL alone decides what they are).
// OpenSSL, without read-ahead, asks for exactly this body next; taking it in the same step
// spares a failed SSL_read per record, and never reads past the record.
size_t RecordBodyLength(SSL* ssl, const char* header, size_t delivered) {
    if (delivered != SSL3_RT_HEADER_LENGTH || std::strcmp(SSL_rstate_string(ssl), "RH") != 0)
        return 0;
    auto byte = [header](int i) { return static_cast<unsigned char>(header[i]); };
    bool recordType = byte(0) >= SSL3_RT_CHANGE_CIPHER_SPEC && byte(0) <= SSL3_RT_APPLICATION_DATA;
    size_t length = static_cast<size_t>(byte(3)) << 8 | byte(4);
    if (!recordType || byte(1) != SSL3_VERSION_MAJOR || length > SSL3_RT_MAX_ENCRYPTED_LENGTH)
        return 0;
    return length;
}

}  // namespace

void SslBioPump::SetStreams(QmXplIo::InputStream_t input, QmXplIo::OutputStream_t output) {
    input_ = std::move(input);
    output_ = std::move(output);
}

bool SslBioPump::Attach(ossl::Ssl ssl) {
    ssl_ = std::move(ssl);
    BIO* inner = nullptr;
    BIO* outer = nullptr;
    if (BIO_new_bio_pair(&inner, 0, &outer, 0) != 1) return false;
    network_.reset(outer);
    SSL_set_bio(ssl_.get(), inner, inner);
    return true;
}

SslBioPump::Outcome SslBioPump::Run(Op op, const char* writeBuffer, char* readBuffer, int length,
                                    int& result) {
    SSL* ssl = ssl_.get();
    // SSL_get_error must see this operation's errors only. A retry after WANT_READ or WANT_WRITE
    // queued none, and the pump queues none when it succeeds, so clearing once is enough.
    ERR_clear_error();
    for (;;) {
        int r = 0;
        switch (op) {
            case eConnect:
                r = SSL_connect(ssl);
                break;
            case eAccept:
                r = SSL_accept(ssl);
                break;
            case eRead:
                r = SSL_read(ssl, readBuffer, length);
                break;
            case eWrite:
                r = SSL_write(ssl, writeBuffer, length);
                break;
            case eShutdown:
                r = SSL_shutdown(ssl);
                break;
        }
        result = r;
        // A shutdown is done once close_notify is queued (0), or both were exchanged (1).
        int e = (op == eShutdown && r >= 0) ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
        lastError_ = e;
        bool finished = e == SSL_ERROR_NONE;
        if (!finished && e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
            DeliverAlert();
            return kFailed;
        }
        if (finished && op == eShutdown) {
            // close_notify goes out and nothing is awaited: a read request still outstanding
            // (a probe for tickets leaves one) must not hold the close until the peer speaks.
            DrainOutbound();
            return kDone;
        }
        Outcome pumped = Pump(e == SSL_ERROR_WANT_READ);
        if (pumped != kDone) return pumped;
        if (finished) return kDone;
    }
}

void SslBioPump::DrainOutbound() {
    BIO* network = network_.get();
    // Straight from the pair's buffer to the transport; a record that wraps around the ring
    // buffer goes in two writes. What the transport refuses stays queued in the pair.
    while (BIO_ctrl_pending(network) > 0) {
        char* data = nullptr;
        int n = BIO_nread0(network, &data);
        if (n <= 0) break;
        output_.Write(data, n);
        BIO_nread(network, nullptr, n);
    }
}

void SslBioPump::DeliverAlert() noexcept {
    try {
        DrainOutbound();
    } catch (const std::exception& e) {
        QMSEC_TRACE(kSslArea.operation, kLevelOperation, "SSL: alert not delivered: " << e.what());
    }
}

SslBioPump::Outcome SslBioPump::Pump(bool wantRead) {
    QMSEC_BLOCK(kSslArea.proc, pumpBlock_);
    DrainOutbound();
    BIO* network = network_.get();
    // A request that the transport failed is still outstanding: taking the pair's buffer to read
    // into cleared OpenSSL's note of it.
    size_t request = std::max(BIO_ctrl_get_read_request(network), unmet_);
    // OpenSSL wants input but left no request (it had some bytes already): offer what fits.
    if (wantRead && request == 0) request = BIO_ctrl_get_write_guarantee(network);
    int zeroReads = 0;
    size_t body = 0;  // what is still missing of a record whose header this step took in
    while (request > 0) {
        // The transport reads into the pair's own buffer; only what it delivered is committed.
        char* space = nullptr;
        int room = BIO_nwrite0(network, &space);
        if (room <= 0) return kRefused;
        unmet_ = request;
        int n = input_.Read(space, static_cast<int>(std::min<size_t>(request, room)));
        if (n < 0) return kEnded;
        if (n == 0) {
            BackOff(++zeroReads);
            continue;
        }
        zeroReads = 0;
        if (BIO_nwrite(network, &space, n) != n) return kRefused;
        unmet_ = 0;
        // A record's body follows its header within the step, as far as the pair holds it.
        if (body > 0) {
            body -= n;
        } else if (wantRead && request == SSL3_RT_HEADER_LENGTH) {
            body = RecordBodyLength(ssl_.get(), space, n);
        }
        request = body > 0 ? std::min<size_t>(body, BIO_ctrl_get_write_guarantee(network))
                           : BIO_ctrl_get_read_request(network);
    }
    return kDone;
}

void SslBioPump::TakeAvailable() {
    BIO* network = network_.get();
    for (int available = input_.Available(); available > 0;) {
        char* space = nullptr;
        int room = BIO_nwrite0(network, &space);
        if (room <= 0) break;
        int n = input_.Read(space, std::min(room, available));
        if (n <= 0 || BIO_nwrite(network, &space, n) != n) break;
        available -= n;
    }
}

}  // namespace QmSecSsl
