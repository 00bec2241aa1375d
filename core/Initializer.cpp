#include "Initializer.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "OpenSsl.h"
#include "QmXpl/InetAddress_t.h"
#include "QmXpl/MBS_t.h"
#include "QmXpl/Mutex_t.h"
#include "RandomBytes.h"
#include "Trace.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelProc;

std::atomic<bool> Initializer::initialised_{false};

namespace {

std::atomic<bool> g_legacy{false};

// The providers stay loaded, and referenced from here, for the life of the process.
OSSL_PROVIDER* g_defaultProvider = nullptr;
OSSL_PROVIDER* g_legacyProvider = nullptr;

// Created on first use and never destroyed: initialisation may be asked for from static
// constructors of other libraries, before or after this file's own statics.
QmXplSync::Mutex_t& InitMutex() {
    static QmXplSync::Mutex_t* mutex = new QmXplSync::Mutex_t;
    return *mutex;
}

// Loaded once and kept for the life of the process, as OpenSSL expects of providers.
void LoadProviders() {
    g_defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    if (!g_defaultProvider) {
        QMSEC_TRACE(
            kCoreArea.init, kLevelProc,
            "Initializer: the default provider could not be loaded: " << ossl::ErrorText().c_str());
    }
    g_legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
    if (g_legacyProvider) {
        g_legacy.store(true, std::memory_order_release);
    } else {
        // Blowfish and DES then fail where they are used, with their own error; everything else
        // works. Say so once here.
        QMSEC_TRACE(kCoreArea.init, kLevelProc,
                    "Initializer: the legacy provider could not be loaded; Blowfish and DES are "
                    "unavailable: "
                        << ossl::ErrorText().c_str());
    }
}

// Where a seeding run traces.
struct SeedTrace {
    const QmXplTrc::TraceWrapper_t& obj;
    uint32_t level;
    const char* who;
};

void PutSeed(const void* data, int length, int& total, const SeedTrace& trace) {
    RAND_seed(data, length);
    total += length;
    QMSEC_TRACE(trace.obj, trace.level,
                trace.who << ": Put " << length << " bytes into Rand_seed.");
}

// A random (version 4) UUID in its 36-character text form.
std::string RandomUuidText() {
    unsigned char b[16];
    if (!detail::RandomBytes(b, sizeof b)) {
        ossl::DiscardErrors();
        return {};
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

// Runs at exit, before OpenSSL's own clean-up (it is registered after OpenSSL's): gives back the
// providers and algorithms this library holds, so that OpenSSL can tear them down completely.
// Without it the legacy provider's own library context outlives the clean-up.
void ReleaseAtExit() {
    ossl::ReleaseAlgorithms();
    if (g_legacyProvider) OSSL_PROVIDER_unload(std::exchange(g_legacyProvider, nullptr));
    if (g_defaultProvider) OSSL_PROVIDER_unload(std::exchange(g_defaultProvider, nullptr));
}

// The host name followed by its address, as multibyte text without terminators.
std::string LocalHostNameAndAddress() {
    QmXplNet::InetAddress_t local = QmXplNet::InetAddress_t::GetLocalHost();
    return QmXplStr::MBS_t(local.GetHostName()).Str() +
           QmXplStr::MBS_t(local.GetHostAddress()).Str();
}

}  // namespace

void Initializer::DoGlobalInit() {
    QMSEC_BLOCK(kCoreArea.proc, "Initializer::DoGlobalInit() ");
    if (initialised_.load(std::memory_order_acquire)) return;
    QmXplSync::MutexLock_t lock(InitMutex());
    if (initialised_.load(std::memory_order_acquire)) return;

    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: Loading error strings ");
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);

    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: Loading all ciphers and digests");
    OPENSSL_init_crypto(
        OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS | OPENSSL_INIT_NO_LOAD_CONFIG,
        nullptr);
    LoadProviders();
    std::atexit(ReleaseAtExit);

    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: Initializing random number generator ");
    SeedRandomGenerator();

    // OpenSSL 3 locks internally and identifies threads itself: no lock table to install.
    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: Enabling  MultiThreading support");

    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: Initializing Error Strings ");
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS, nullptr);

    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: Initializing SSL library ");
    OPENSSL_init_ssl(0, nullptr);

    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: Initialization completed ");
    initialised_.store(true, std::memory_order_release);
    QMSEC_TRACE(kCoreArea.init, kLevelProc, "Initializer: End of Initializer ");
}

void Initializer::SeedRandomGenerator() {
    QMSEC_BLOCK(kCoreArea.proc, "Initializer::SeedRandomGenerator() ");
    SeedRandomGenerator(kCoreArea.init, kLevelProc, "Initializer");
}

int Initializer::SeedRandomGenerator(const QmXplTrc::TraceWrapper_t& obj, uint32_t level,
                                     const char* who) {
    const SeedTrace trace{obj, level, who};
    int total = 0;

    // 1. The local time as asctime text, newline included.
    time_t now = std::time(nullptr);
    tm local{};
    char timeText[64] = "";
    if (localtime_r(&now, &local) && asctime_r(&local, timeText)) {
        PutSeed(timeText, static_cast<int>(std::strlen(timeText)), total, trace);
    }

    // 2. Host name, then host address, one after the other without terminators.
    std::string host = LocalHostNameAndAddress();
    PutSeed(host.data(), static_cast<int>(host.size()), total, trace);

    // 3. A random UUID text.
    std::string uuid = RandomUuidText();
    if (!uuid.empty()) PutSeed(uuid.data(), static_cast<int>(uuid.size()), total, trace);

    // 4. 1024 values of the C library's generator seeded from the clock, in native byte order.
    int values[1024];
    unsigned seed = static_cast<unsigned>(now);
    for (int& v : values) v = rand_r(&seed);
    PutSeed(values, static_cast<int>(sizeof values), total, trace);

    QMSEC_TRACE(obj, level, who << ": Put " << total << " total bytes into Rand_seed.");
    return total;
}

void Initializer::GetOpenSslError(QmXplArray::CharArray_t& text) {
    if (text.GetSize() < 256) text.Resize(256);
    unsigned long code = ERR_get_error();
    ERR_error_string_n(code, text.GetData(), static_cast<size_t>(text.GetSize()));
    // Only the oldest error is reported; the rest belong to the same failure.
    ERR_clear_error();
}

bool Initializer::HasLegacyProvider() noexcept { return g_legacy.load(std::memory_order_acquire); }

}  // namespace QmSecCore
