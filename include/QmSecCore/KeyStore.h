// The node's file-based store of certificates and private keys.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/Object.h"
#include "QmSecCore/StringCollection.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class KeyStoreImpl;

// Certificates (plain or trusted) and RSA private keys, each named by an alias, in one directory
// of the node: by default <data>/sec/ks, the data directory being directory key 7 of the layer.
// Certificates are kept as PEM files, private keys as DER PKCS #8 encrypted with Triple-DES under
// a node-specific key, which the store creates with its first installation and keeps encrypted
// with Crypt; so reading or writing a private key (and the first installation) needs a key
// provider registered with CryptImpl::RegisterFunctionPointer.
//
// Any number of KeyStore objects, in one process or in several, may work on one directory at
// once. Each keeps a copy of the index in memory and re-reads the index file when it has
// changed, so that a call sees every change that was complete when it began. Every change
// (install, remove) holds an exclusive lock on the directory while it reads the index, changes
// the files and writes the index, so concurrent changes never undo one another; every file is
// replaced in one step, so a crash leaves each file as it was before or after a change. The
// directory is created with mode 0700 and every file in it with 0600. One object may be used
// from several threads at once.
//
// An alias is the start of its entry's file names (alias + "_cert.pem", alias + "_key.dat"), so
// any alias that can be part of a file name is accepted, the empty one, ".", ".." and names
// with a backslash included. An alias that contains '/', a zero character or a lone UTF-16
// surrogate, and the null string, are refused with IllegalArgumentError_t 175 by every method
// that installs, reads or removes an entry, before any file is touched; the queries
// (IsCertEntry and its kin) answer false for them.
//
// Exceptions common to all methods: KeyStoreException 38 when the index file holds a record it
// does not understand (at every call until the file is fixed; the file is then never rewritten,
// so nothing in it is lost), 39 when it cannot be read. Copies of a handle share one store;
// every method but operator-> throws IllegalStateError_t ("KeyStore") on a handle without a
// body.
class QMSEC_API KeyStore : public Object {
  public:
    // The store in the node's default directory. Reads the node key (when the store has one)
    // and the index; throws what reading them throws: KeyStoreException 183 when the node key
    // file does not decrypt under the key provider's key (another node's provider, a secret
    // made anew, a damaged file).
    KeyStore();
    // The store under baseDir instead of the node's installation directory (<baseDir>/data/
    // sec/ks); an empty or null baseDir is the default directory.
    explicit KeyStore(const QmXplStr::String_t& baseDir);
    ~KeyStore() override;

    // The body, unchecked (null for a handle without a body).
    KeyStoreImpl* operator->() const noexcept;

    // The directory of the store below baseDir, as the constructor takes it, and the file of its
    // node key ("nsk.dat" in it). Nothing is opened or created: a program can name them before
    // the store can be opened (which reads the node key, and so needs the key provider).
    static QmXplStr::String_t DirectoryOf(
        const QmXplStr::String_t& baseDir = QmXplStr::String_t::Null);
    static QmXplStr::String_t NodeKeyFileOf(
        const QmXplStr::String_t& baseDir = QmXplStr::String_t::Null);

    // Whether alias may name an entry (see above). The store holds what other components sharing
    // it have written, so it refuses only what cannot be part of a file name.
    static bool IsValidAlias(const QmXplStr::String_t& alias) noexcept;
    // Whether alias is one for a person to give a new entry: a valid alias that every file system
    // and every text output takes as it is. It is not empty, ".", ".." or longer than 200 bytes
    // in UTF-8, and holds no backslash, no control character (C0, DEL) and no blank at either
    // end. Programs that let people name entries (qmsec) take only such aliases.
    static bool IsPortableAlias(const QmXplStr::String_t& alias) noexcept;

    // Adds every certificate alias, in ascending order (String_t::operator<), to out and returns
    // out; out is not cleared first. Aliases with only a private key are not listed.
    StringCollection& Aliases(StringCollection& out) const;
    // Adds every private-key alias, in ascending order, to out and returns out; out is not
    // cleared first. With Aliases it names every entry of the store.
    StringCollection& KeyAliases(StringCollection& out) const;
    // Reads the alias's certificate into out and returns out. EntryNotFoundException 25 when
    // the alias has no certificate (or its file is gone); KeyStoreException 26 when the file
    // does not hold a readable certificate.
    X509Certificate& GetCertificate(const QmXplStr::String_t& alias, X509Certificate& out) const;
    // Reads and decrypts the alias's private key into out (an RSA private key) and returns out.
    // EntryNotFoundException 27 when the alias has no private key (or its file is gone);
    // KeyStoreException 28 when the file cannot be opened, 29 without a node key (with 21
    // naming the missing file as details), 21 when the node key file is empty, 183 when it does
    // not decrypt; BadPaddingException 76 or KeyStoreException 30 when the file does
    // not decrypt to a key under this node's key (a file from another node, a damaged file).
    Key& GetPrivateKey(const QmXplStr::String_t& alias, Key& out) const;
    // Whether the alias has a certificate entry, plain or trusted.
    bool IsCertEntry(const QmXplStr::String_t& alias) const;
    // Whether the alias has a trusted certificate entry.
    bool IsTrustedCertEntry(const QmXplStr::String_t& alias) const;
    // Whether the alias has a private-key entry.
    bool IsPrivateKeyEntry(const QmXplStr::String_t& alias) const;

    // Stores cert under alias, as a trusted certificate when trusted is set. Without replace, a
    // certificate entry of the alias throws AlreadyInstalledException 31; with it the file and
    // the entry are replaced (a change of trusted changes the entry); when the alias has a
    // private key, cert must be that key's certificate (else IllegalArgumentError_t 184, unless
    // the stored key cannot be read to compare). The index is what is
    // installed: a file of the alias that it does not list (left by an install that was killed)
    // is replaced, and temporaries of killed writers are removed. The first installation
    // creates the directory and the node key; a node key file that has gone while the index
    // lists private keys is never made anew (those keys would become unreadable), but throws
    // KeyStoreException 182 naming it. KeyStoreException 22 when the directory cannot be
    // created, 174 when its permissions cannot be set, 24 when the index or node key cannot be
    // written, 32 when the certificate file cannot be written; the IllegalStateError_t of Crypt
    // without a key provider when the node key must be made.
    void InstallCertificate(const QmXplStr::String_t& alias, const X509Certificate& cert,
                            bool replace, bool trusted) const;
    // The same, with privateKey under the same alias. Everything is checked before anything is
    // written: privateKey must be an RSA private key (else InvalidKeyException 79) whose
    // public half is the certificate's public key (else IllegalArgumentError_t 184), and
    // without replace neither a certificate entry (31) nor a key entry (33) of the alias may
    // exist. KeyStoreException 28 / 32 when the key file cannot be created / written: the alias
    // is then put back as it was (its previous certificate and key, or nothing). Whenever the
    // process stops, the alias never lists a certificate beside a key that is not its own.
    void InstallCertificate(const QmXplStr::String_t& alias, const X509Certificate& cert,
                            const Key& privateKey, bool replace, bool trusted) const;
    // Deletes the alias's certificate file and entry. Without an entry, only a certificate file
    // of the alias that the index does not list (left by a killed install) is deleted.
    // KeyStoreException 25 when the entry's file was already gone (the entry is removed all the
    // same), 36 when the file cannot be deleted.
    void RemoveCertificate(const QmXplStr::String_t& alias) const;
    // Deletes the alias's private-key file and entry. Without an entry, only a key file of the
    // alias that the index does not list (left by a killed install) is deleted.
    // KeyStoreException 27 when the entry's file was already gone (the entry is removed all the
    // same), 37 when the file cannot be deleted.
    void RemovePrivateKey(const QmXplStr::String_t& alias) const;
    // Whether the directory holds a file of the alias that the index does not list: its
    // private-key file when privateKey is set, else its certificate file. An install that was
    // killed half way leaves such a file; RemovePrivateKey (RemoveCertificate) deletes it. False
    // for an alias that has such an entry, and for an alias that is not valid.
    bool HasUnlistedFile(const QmXplStr::String_t& alias, bool privateKey) const;

  private:
    KeyStoreImpl* Body() const;
};

}  // namespace QmSecCore
