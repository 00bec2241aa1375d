// What the TLS classes share: cipher lists per encryption level, the texts of verification
// results, and the reading of configuration keywords and numbers.
#pragma once

#include <openssl/ssl.h>

#include "QmXpl/Configuration_t.h"
#include "QmXpl/String_t.h"

namespace QmSecSsl::policy {

// The OpenSSL cipher list of an encryption level (1 NONE .. 4 BEST; they govern TLS 1.2 suites,
// TLS 1.3 suites stay OpenSSL's). Null for any other level.
const char* CipherList(int level) noexcept;
// The full list, which the shared context starts with.
const char* FullCipherList() noexcept;

// Applies level to ssl: its cipher list, and for NONE the security level 0 and at most TLS 1.2
// that null ciphers need. Writes the level's trace line (and a warning for NONE and EXPORT).
// False when OpenSSL accepted no cipher of the list.
bool ApplyEncryptionLevel(SSL* ssl, int level, const char* tracePrefix);

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
