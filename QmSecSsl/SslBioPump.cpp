#include "SslBioPump.h"

#include <openssl/err.h>

#include <algorithm>
#include <chrono>
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
    for (;;) {
        ERR_clear_error();  // SSL_get_error must see this call's errors only
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
        Outcome pumped = Pump(e == SSL_ERROR_WANT_READ);
        if (pumped != kDone) return pumped;
        if (finished) return kDone;
    }
}

void SslBioPump::DrainOutbound() {
    BIO* network = network_.get();
    for (size_t pending; (pending = BIO_ctrl_pending(network)) > 0;) {
        int n = BIO_read(network, buffer_, static_cast<int>(std::min<size_t>(pending, kStep)));
        if (n <= 0) break;
        output_.Write(buffer_, n);
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
    size_t request = BIO_ctrl_get_read_request(network);
    // OpenSSL wants input but left no request (it had some bytes already): offer what fits.
    if (wantRead && request == 0) request = BIO_ctrl_get_write_guarantee(network);
    int zeroReads = 0;
    while (request > 0) {
        int n = input_.Read(buffer_, static_cast<int>(std::min<size_t>(request, kStep)));
        if (n < 0) return kEnded;
        if (n == 0) {
            BackOff(++zeroReads);
            continue;
        }
        zeroReads = 0;
        if (BIO_write(network, buffer_, n) != n) return kRefused;
        request = BIO_ctrl_get_read_request(network);
    }
    return kDone;
}

void SslBioPump::TakeAvailable() {
    BIO* network = network_.get();
    for (int available = input_.Available(); available > 0;) {
        size_t room = BIO_ctrl_get_write_guarantee(network);
        int want =
            static_cast<int>(std::min<size_t>({room, kStep, static_cast<size_t>(available)}));
        if (want <= 0) break;
        int n = input_.Read(buffer_, want);
        if (n <= 0 || BIO_write(network, buffer_, n) != n) break;
        available -= n;
    }
}

}  // namespace QmSecSsl
