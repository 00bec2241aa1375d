#include "SslPolicy.h"

#include <strings.h>

#include <cstdlib>
#include <string>

#include "Trace.h"

namespace QmSecSsl::policy {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;
using QmXplStr::String_t;

namespace {

// No export suite exists in OpenSSL 3, so the EXPORT list would select nothing: EXPORT uses the
// FULL list (with a warning). "+EXP" in BEST is ignored by OpenSSL for the same reason.
const char* const kFull =
    "HIGH:MEDIUM:!DH:!ADH:!SSLv2:+SHA:+MD5:+RSA:+DSS:+RC4:+IDEA:+3DES:+RC2:+DES";
const char* const kBest = "ALL:!DH:!ADH:!SSLv2:+SHA:+MD5:+RSA:+DSS:+RC4:+IDEA:+3DES:+RC2:+DES:+EXP";
const char* const kNone = "eNULL";

struct VerifyText {
    long result;
    const char* text;
};
const VerifyText kVerifyTexts[] = {
    {0, "Verification succeeded."},
    {2, "The issuer of the presented certificate is not trusted."},
    {4, "The peer certificate signature could not be decrypted."},
    {6, "Could not get issuer public key from peer certificate."},
    {7, "The signature of the peer certificate is invalid."},
    {9, "The presented peer certificate is not yet valid."},
    {10, "The presented peer certificate has expired."},
    {13, "The peer certificate's <notBefore> field contains an invalid time."},
    {14, "The peer certificate's <notAfter> field contains an invalid time."},
    {18, "The presented peer certificate is not trusted."},
    {19,
     "The presented peer certificate is not trusted. The certificate verification chain could "
     "not be built."},
    {20,
     "The presented peer certificate is not trusted. The issuer certificate could not be "
     "found."},
    {21, "The presented peer certificate is not trusted. Certificate chain is incomplete."},
    {22, "The certificate chain length is greater than the supplied maximum depth."},
    {24,
     "A CA certificate is invalid. Either it is not a CA or its extensions are not consistent "
     "with the supplied purpose."},
    {25, "The peer certificate's basicConstraints <pathlength> parameter has been exceeded."},
    {26, "The presented peer certificate cannot be used for the specified purpose."},
    {27, "The root CA is not marked as trusted for the specified purpose."},
    {28, "The root CA is marked to reject the specified purpose."},
    {32,
     "The issuer certificate was rejected because its <keyUsage> extension does not permit "
     "certificate signing."},
};

}  // namespace

const char* CipherList(int level) noexcept {
    switch (level) {
        case 1:
            return kNone;
        case 2:
        case 3:
            return kFull;
        case 4:
            return kBest;
        default:
            return nullptr;
    }
}

const char* FullCipherList() noexcept { return kFull; }

bool ApplyEncryptionLevel(SSL* ssl, int level, const char* prefix) {
    const char* list = CipherList(level);
    if (!list) return true;
    switch (level) {
        case 1:
            QMSEC_TRACE(kSslArea.operation, kLevelOperation, prefix << "Using NO encryption");
            QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                        "Warning: encryption level NONE sends data in clear (integrity only)");
            // Null ciphers exist only below TLS 1.3 and only at security level 0.
            SSL_set_security_level(ssl, 0);
            SSL_set_max_proto_version(ssl, TLS1_2_VERSION);
            break;
        case 2:
            QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                        prefix << "Using encryption with export restricted keylength");
            QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                        "Warning: encryption level EXPORT has no cipher suites any more; using "
                        "the FULL list");
            break;
        case 3:
            QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                        prefix << "Using encryption with full keylength");
            break;
        default:
            QMSEC_TRACE(
                kSslArea.operation, kLevelOperation,
                prefix << "Using best encryption level = full or export restricted keylength");
            break;
    }
    return SSL_set_cipher_list(ssl, list) == 1;
}

const char* VerificationText(long result) noexcept {
    for (const auto& t : kVerifyTexts)
        if (t.result == result) return t.text;
    return "Unknown certificate verification error.";
}

bool IsKeyword(const String_t& value, const char* keyword) {
    return strcasecmp(value.ToUtf8().c_str(), keyword) == 0;
}

bool ReadSwitch(const QmXplConfig::Configuration_t& config, const char* key, bool fallback) {
    String_t value = config.GetValue(String_t(key));
    if (value.IsNull() || value.IsEmpty()) return fallback;
    if (IsKeyword(value, "ENABLED")) return true;
    if (IsKeyword(value, "DISABLED")) return false;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Read unknown keyword for " << key << ": " << value << ". Defaulting to TRUE ...");
    return true;
}

int ReadNumber(const QmXplConfig::Configuration_t& config, const char* key, int fallback,
               int minimum) {
    String_t value = config.GetValue(String_t(key));
    if (value.IsNull() || value.IsEmpty()) return fallback;
    long n = std::strtol(value.ToUtf8().c_str(), nullptr, 10);
    if (n >= minimum && n <= INT32_MAX) return static_cast<int>(n);
    QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                "Read invalid value for << " << key << ": " << value << ". The default value ("
                                             << fallback << ") will be used.");
    return fallback;
}

}  // namespace QmSecSsl::policy
