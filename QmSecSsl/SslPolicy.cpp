#include "SslPolicy.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Throw.h"

namespace QmSecSsl::policy {

using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kSslArea;
using QmXplArray::CharArray_t;
using QmXplStr::String_t;
namespace ossl = QmSecCore::ossl;

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

namespace {

// Writes the level's trace lines; false for a level outside 1..4.
bool TraceLevel(int level, LevelTexts texts) {
    if (!CipherList(level)) return false;
    QMSEC_TRACE(kSslArea.operation, kLevelOperation, texts[level - 1]);
    if (level == 1)
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "Warning: encryption level NONE sends data in clear (integrity only)");
    if (level == 2)
        QMSEC_TRACE(kSslArea.operation, kLevelOperation,
                    "Warning: encryption level EXPORT has no cipher suites any more; using "
                    "the FULL list");
    return true;
}

}  // namespace

bool ApplyEncryptionLevel(SSL* ssl, int level, LevelTexts texts, int contextLevel) {
    if (!TraceLevel(level, texts)) return true;
    if (level == 1) {
        // Null ciphers exist only below TLS 1.3 and only at security level 0.
        SSL_set_security_level(ssl, 0);
        SSL_set_max_proto_version(ssl, TLS1_2_VERSION);
    }
    if (CipherList(level) == CipherList(contextLevel)) return true;
    return SSL_set_cipher_list(ssl, CipherList(level)) == 1;
}

bool ApplyEncryptionLevel(SSL_CTX* ctx, int level, LevelTexts texts, int securityLevel) {
    if (!TraceLevel(level, texts)) return true;
    if (level == 1) {
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    } else if (SSL_CTX_get_security_level(ctx) == 0 && securityLevel != 0) {
        SSL_CTX_set_security_level(ctx, securityLevel);
        SSL_CTX_set_max_proto_version(ctx, 0);
    }
    return SSL_CTX_set_cipher_list(ctx, CipherList(level)) == 1;
}

ossl::SslCtx NewContext() {
    ossl::SslCtx ctx(SSL_CTX_new(TLS_method()));
    if (!ctx) return ctx;
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_clear_options(ctx.get(), SSL_OP_ALLOW_CLIENT_RENEGOTIATION);
    SSL_CTX_set_cipher_list(ctx.get(), CipherList(kContextLevel));
    // Keys are never read from a terminal: without a password an encrypted key fails to load.
    SSL_CTX_set_default_passwd_cb(ctx.get(), &PasswordCallback);
    return ctx;
}

ossl::Ssl NewSsl(SSL_CTX* ctx, X509_STORE* trust, STACK_OF(X509_NAME) * names) {
    ossl::Ssl ssl(SSL_new(ctx));
    if (!ssl) return nullptr;
    if (trust && SSL_set1_verify_cert_store(ssl.get(), trust) != 1) return nullptr;
    if (names) {
        STACK_OF(X509_NAME)* copy = SSL_dup_CA_list(names);
        if (!copy) return nullptr;
        SSL_set_client_CA_list(ssl.get(), copy);
    }
    return ssl;
}

TrustLoad LoadTrustFile(const char* fileName, ossl::X509Store& store, ossl::NameStack& names) {
    ossl::NameStack loaded(SSL_load_client_CA_file(fileName));
    if (!loaded || sk_X509_NAME_num(loaded.get()) == 0) {
        ossl::DiscardErrors();
        return TrustLoad::kNoCertificate;
    }
    ossl::X509Store anchors(X509_STORE_new());
    if (!anchors || X509_STORE_load_file(anchors.get(), fileName) != 1) return TrustLoad::kRefused;
    store = std::move(anchors);
    names = std::move(loaded);
    return TrustLoad::kLoaded;
}

int PasswordCallback(char* buffer, int size, int, void* userdata) {
    if (size <= 0) return 0;
    const auto* password = static_cast<const CharArray_t*>(userdata);
    int length = password && !password->IsEmpty()
                     ? static_cast<int>(
                           strnlen(password->GetData(), static_cast<size_t>(password->GetSize())))
                     : 0;
    length = std::min(length, size - 1);
    if (length > 0) std::memcpy(buffer, password->GetData(), static_cast<size_t>(length));
    buffer[length] = '\0';
    return length;
}

std::string CommonName(X509* certificate) {
    if (!certificate) return {};
    X509_NAME* subject = X509_get_subject_name(certificate);
    int index = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (index < 0) return {};
    unsigned char* utf8 = nullptr;
    int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    ossl::Bytes owned(utf8);
    if (length < 0) {
        ossl::DiscardErrors();
        return {};
    }
    return std::string(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
}

void ThrowOpenSslFailure() {
    std::string text = ossl::ErrorQueueText();
    if (text.empty()) text = ossl::ErrorText();
    QMSEC_THROW(kSslArea, QmXplMsg::RuntimeException_t, QmXplMsg::CreateError_t(String_t(text)));
}

std::string FileName(const CharArray_t& name) {
    // An empty array has no data at all (a null pointer, not even for strnlen).
    if (name.IsEmpty()) return {};
    return std::string(name.GetData(),
                       strnlen(name.GetData(), static_cast<size_t>(name.GetSize())));
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
