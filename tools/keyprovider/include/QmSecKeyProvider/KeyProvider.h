// The key provider that Crypt needs on a node set up with qmsec: a secret kept in the node's
// configuration directory.
#pragma once

#include "QmSecCore/Key.h"
#include "QmXpl/String_t.h"

#define QMSEC_KEYPROVIDER_API __attribute__((visibility("default")))

namespace QmSecKeyProvider {

// Crypt (and with it the key store's node-specific key) encrypts under a key that a program
// registers at start-up. This provider derives that key from a 32-byte random secret in
// $QMXPL_HOME/conf/sec/provider.key ($HOME/.qm when QMXPL_HOME is not set), a file that
// `qmsec init` creates with mode 0600. Whoever can read the secret can decrypt the key store's
// private keys, so the provider refuses a secret that others may read.
//
// Products that keep their key elsewhere register a provider of their own instead; only one
// provider is registered per process.
class QMSEC_KEYPROVIDER_API KeyProvider {
  public:
    static constexpr int kSecretLength = 32;

    // Where the secret lives: $QMXPL_HOME/conf/sec/provider.key. Nothing is touched.
    static QmXplStr::String_t GetSecretPath();

    // Creates the secret when there is none: 32 bytes from the system's random generator in a
    // file of mode 0600, in a directory conf/sec of mode 0700 (created when missing). An existing
    // secret is never replaced, since the node's private keys can only be read with it; two
    // processes that race here end up sharing the one secret that was written first. Returns
    // true when this call created the secret. IOException_t, with the path and the system's
    // error text, when the directory or the file cannot be created; the secret is then absent
    // as before, never half-written.
    static bool CreateSecret();

    // The provider function (the signature of CryptImpl::KeyProvider): replaces key with a
    // secret key of the 32 secret bytes (Blowfish, the cipher of Crypt, uses the first 16).
    // Reads the file on every call, so a secret created after registration is found; safe on
    // any number of threads. Throws IOException_t when the secret is missing (the message says
    // to run `qmsec init`), cannot be read, does not hold exactly 32 bytes, is not a regular
    // file, or may be read or written by the group or others. The bytes read are wiped before
    // the call returns.
    static void ProvideKey(QmSecCore::Key& key);

    // Registers ProvideKey as the process-wide provider of Crypt
    // (CryptImpl::RegisterFunctionPointer), replacing any earlier one.
    static void Register() noexcept;
};

}  // namespace QmSecKeyProvider
