// What the TLS classes share: cipher lists per encryption level, the texts of verification
// results, and the reading of configuration keywords and numbers.
#pragma once

#include <openssl/ssl.h>

#include <string>

#include "OpenSsl.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Configuration_t.h"
#include "QmXpl/String_t.h"

namespace QmSecSsl::policy {

// The OpenSSL cipher list of an encryption level (1 NONE .. 4 BEST; they govern TLS 1.2 suites,
// TLS 1.3 suites stay OpenSSL's). Null for any other level.
const char* CipherList(int level) noexcept;

// The trace lines of the four levels, NONE first.
using LevelTexts = const char* const[4];

// Applies level to ssl: its cipher list, and for NONE the security level 0 and at most TLS 1.2
// that null ciphers need. Writes the level's trace line (and a warning for NONE and EXPORT).
// False when OpenSSL accepted no cipher of the list. Levels outside 1..4 change nothing.
// contextLevel: the level whose list ssl already has from its context (0: unknown); that list is
// not parsed again for every session.
bool ApplyEncryptionLevel(SSL* ssl, int level, LevelTexts texts, int contextLevel);
// The same for a context; a level other than NONE gives back the versions and security level a
// NONE before it took away (securityLevel: the context's level as built).
bool ApplyEncryptionLevel(SSL_CTX* ctx, int level, LevelTexts texts, int securityLevel);

// The level of the list every context starts with.
inline constexpr int kContextLevel = 3;  // FULL
// A context for TLS 1.2 and 1.3 with the FULL cipher list, on which no client may start a
// renegotiation (each would cost the server a private-key operation, without end). Null (the
// OpenSSL error queued) when OpenSSL cannot make one.
QmSecCore::ossl::SslCtx NewContext();

// A new session on ctx that verifies with trust and names names to clients (each may be null:
// the context's own). Null (the OpenSSL error queued) when OpenSSL is out of memory.
QmSecCore::ossl::Ssl NewSsl(SSL_CTX* ctx, X509_STORE* trust, STACK_OF(X509_NAME) * names);

// Trust anchors and the CA names for certificate requests from the PEM file fileName, into
// store and names. kNoCertificate when the file holds none, kRefused when OpenSSL refused the
// file or memory ran out (the OpenSSL error then queued).
enum class TrustLoad { kLoaded, kNoCertificate, kRefused };
TrustLoad LoadTrustFile(const char* fileName, QmSecCore::ossl::X509Store& store,
                        QmSecCore::ossl::NameStack& names);

// OpenSSL's password callback for encrypted PEM keys: copies the CharArray_t that userdata
// points to (up to its first zero byte, at most size-1 bytes) into buffer, terminated. No
// userdata gives an empty password, so that OpenSSL never prompts on a terminal.
int PasswordCallback(char* buffer, int size, int rwflag, void* userdata);

// The subject's common name of certificate as UTF-8; empty without certificate or name.
std::string CommonName(X509* certificate);

// Throws RuntimeException_t whose message is the text of this thread's OpenSSL errors.
[[noreturn]] void ThrowOpenSslFailure();

// The bytes of a file-name array up to its first zero byte.
std::string FileName(const QmXplArray::CharArray_t& name);

// The text of an X.509 verification result.
const char* VerificationText(long result) noexcept;

// A keyword value of a configuration key: "ENABLED"/"DISABLED" (any case) to true/false, other
// non-empty values to true with the warning "Read unknown keyword for KEY: VALUE. Defaulting to
// TRUE ...". Absent or empty: fallback.
bool ReadSwitch(const QmXplConfig::Configuration_t& config, const char* key, bool fallback);

// A number of a configuration key, from its leading decimal digits (blanks and a sign allowed).
// Values below minimum keep fallback with the warning "Read invalid value for << KEY: VALUE. The
// default value (FALLBACK) will be used.". Absent or empty: fallback.
int ReadNumber(const QmXplConfig::Configuration_t& config, const char* key, int fallback,
               int minimum);

// Case-insensitive comparison of a configuration value with an ASCII keyword.
bool IsKeyword(const QmXplStr::String_t& value, const char* keyword);

}  // namespace QmSecSsl::policy
