#include "QmSecCore/KeyStoreImpl.h"

#include <openssl/x509.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Initializer.h"
#include "KeyImpl.h"
#include "KeyStoreFiles.h"
#include "KeyStoreIndex.h"
#include "KeyStoreNodeKey.h"
#include "OpenSsl.h"
#include "QmSecCore/AlreadyInstalledException.h"
#include "QmSecCore/EntryNotFoundException.h"
#include "QmSecCore/KeyStore.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmXpl/FileLock_t.h"
#include "QmXpl/File_t.h"
#include "Throw.h"
#include "Trace.h"
#include "X509CertificateImpl.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmSecCoreTrc::kLevelProc;
using QmXplArray::CharArray_t;
using QmXplIo::File_t;
using QmXplMsg::Exception_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplStr::String_t;
using Kind = KeyStoreIndex::Kind;
using Entry = KeyStoreIndex::Entry;
using Wiper = KeyStoreFiles::Wiper;

namespace {

// The public key of the certificate and the private key must be one pair: stored together they
// are what the node signs and proves itself with, and a key of another certificate would make
// all of that fail (or, worse, pass for the wrong certificate).
void CheckKeyOfCertificate(const String_t& alias, const X509Certificate& cert, const Key& key) {
    EVP_PKEY* certificateKey = X509_get0_pubkey(X509CertificateImpl::Of(cert).GetX509());
    if (!certificateKey || EVP_PKEY_eq(certificateKey, RSAKey::PKeyOf(key)) != 1) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: key and certificate differ: " << ossl::ErrorText());
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 184, << alias);
    }
}

void CheckAlias(const String_t& alias) {
    if (!KeyStore::IsValidAlias(alias))
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 175, << alias);
}

}  // namespace

// Files of the store directory D: "ks.dat" (the index, see KeyStoreIndex), "nsk.dat" (the node
// key, see KeyStoreNodeKey), alias + "_cert.pem", alias + "_key.dat" (see KeyStoreFiles), and
// "ks.lock", which every change holds with an exclusive lock while it works.
struct KeyStoreImpl::State {
    explicit State(const String_t& dir)
        : files(dir),
          index(dir + "/" + KeyStoreFiles::kIndexName),
          nodeKey(dir + "/" + KeyStoreFiles::kNodeKeyName),
          lockPath(dir + "/" + KeyStoreFiles::kLockName) {}

    // What an alias held before an install of a certificate with its key.
    struct Previous {
        bool hadCertificate = false;
        bool hadKey = false;
        Entry certificate;
        Entry key;
        CharArray_t pem;  // the certificate file's bytes
    };

    // The exclusive lock that every change of the store holds. Each holder opens the lock file
    // itself, so it excludes other threads of this process as well as other processes; the
    // system drops it when the holder closes the file or dies, so a crashed writer never blocks
    // the store.
    class Lock {
      public:
        explicit Lock(const String_t& path) : lock_(Take(path)) {
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: locked the store");
        }
        ~Lock() {
            lock_.reset();
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation, "KeyStoreImpl: unlocked the store");
        }

      private:
        static std::unique_ptr<QmXplIo::FileLock_t> Take(const String_t& path) {
            try {
                return std::make_unique<QmXplIo::FileLock_t>(path, KeyStoreFiles::kFileMode);
            } catch (const Exception_t& e) {
                QMSEC_THROW(kCoreArea, KeyStoreException,
                            (detail::CatalogMessage(28) << path).AddDetails(e.GetMessageList()));
            }
        }
        std::unique_ptr<QmXplIo::FileLock_t> lock_;
    };

    void ReadIndex();
    void BeginChange();
    void StoreCertificate(const String_t& alias, const CharArray_t& pem, bool trusted);
    void InstallPrivateKey(const String_t& alias, const CharArray_t& encodedKey);
    void Restore(const String_t& alias, const Previous& previous) noexcept;
    void Remove(const String_t& alias, bool certificate);

    KeyStoreFiles files;
    KeyStoreIndex index;
    KeyStoreNodeKey nodeKey;
    String_t lockPath;
};

// --- life cycle --------------------------------------------------------------------------------

KeyStoreImpl::KeyStoreImpl(const String_t& baseDir) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Constructor");
    Initializer::Ensure();
    Init(baseDir);
}

void KeyStoreImpl::Init(const String_t& baseDir) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Init");
    state_ = std::make_unique<State>(KeyStore::DirectoryOf(baseDir));
    QMSEC_TRACE(kCoreArea.init, kLevelProc,
                "KeyStoreImpl: key store directory: '" << state_->files.GetDirectory() << "'");
    state_->nodeKey.Load();
    state_->ReadIndex();
}

KeyStoreImpl::~KeyStoreImpl() { QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Destructor"); }

void KeyStoreImpl::DestroyThis() {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:DestroyThis()");
    delete this;
}

void KeyStoreImpl::State::ReadIndex() {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:ReadIndexFile()");
    files.RefuseSharedDirectory();
    index.Read();
}

// --- queries -----------------------------------------------------------------------------------

StringCollection& KeyStoreImpl::Aliases(StringCollection& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:Aliases()");
    (void)out.IsEmpty();  // an empty collection handle fails here, whatever the store holds
    state_->ReadIndex();
    for (const String_t& alias : state_->index.Aliases(KeyStoreIndex::eCertificates))
        out.Add(alias);
    return out;
}

StringCollection& KeyStoreImpl::KeyAliases(StringCollection& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:KeyAliases()");
    (void)out.IsEmpty();
    state_->ReadIndex();
    for (const String_t& alias : state_->index.Aliases(KeyStoreIndex::eKeys)) out.Add(alias);
    return out;
}

bool KeyStoreImpl::IsCertEntry(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:IsCertEntry()");
    state_->ReadIndex();
    return state_->index.Has(KeyStoreIndex::eCertificates, alias);
}

bool KeyStoreImpl::IsTrustedCertEntry(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:IsTrustedCertEntry()");
    state_->ReadIndex();
    return state_->index.IsTrusted(alias);
}

bool KeyStoreImpl::IsPrivateKeyEntry(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:IsPrivateKeyEntry()");
    state_->ReadIndex();
    return state_->index.Has(KeyStoreIndex::eKeys, alias);
}

bool KeyStoreImpl::HasUnlistedFile(const String_t& alias, bool privateKey) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:HasUnlistedFile()");
    if (!KeyStore::IsValidAlias(alias)) return false;
    state_->ReadIndex();
    Kind kind = privateKey ? KeyStoreIndex::eKeys : KeyStoreIndex::eCertificates;
    if (state_->index.Has(kind, alias)) return false;
    return File_t(state_->files.PathOf(KeyStoreIndex::FileNameOf(alias, kind))).Exists();
}

X509Certificate& KeyStoreImpl::GetCertificate(const String_t& alias, X509Certificate& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:GetCertificate()");
    CheckAlias(alias);
    state_->ReadIndex();
    Entry entry;
    if (!state_->index.Lookup(KeyStoreIndex::eCertificates, alias, entry))
        QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 25, << alias);
    String_t path = state_->files.PathOf(entry.fileName);
    if (!File_t(path).Exists()) QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 25, << alias);
    CharArray_t pem;
    if (!KeyStoreFiles::ReadData(path, pem))
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 26, << path);
    try {
        out = X509Certificate(pem);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(26) << path).AddDetails(e.GetMessageList()));
    }
    return out;
}

Key& KeyStoreImpl::GetPrivateKey(const String_t& alias, Key& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:GetPrivateKey()");
    CheckAlias(alias);
    state_->ReadIndex();
    Entry entry;
    if (!state_->index.Lookup(KeyStoreIndex::eKeys, alias, entry))
        QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 27, << alias);
    return state_->files.ReadPrivateKey(alias, state_->files.PathOf(entry.fileName),
                                        state_->nodeKey, out);
}

// --- changes -----------------------------------------------------------------------------------

// The start of every install, with the store lock held: no temporaries of writers that died, the
// index as it is now, and the node key (made with the first install).
void KeyStoreImpl::State::BeginChange() {
    files.RemoveTemporaries();
    ReadIndex();
    nodeKey.Ensure(index);
}

void KeyStoreImpl::InstallCertificate(const String_t& alias, const X509Certificate& cert,
                                      bool replace, bool trusted) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:InstallCertificate()");
    CheckAlias(alias);
    CharArray_t pem;
    cert.GetEncoded(pem);
    State& s = *state_;
    s.ReadIndex();
    s.files.CreateDirectory();
    State::Lock lock(s.lockPath);
    s.BeginChange();
    if (!replace && s.index.Has(KeyStoreIndex::eCertificates, alias))
        QMSEC_THROW_MSG(kCoreArea, AlreadyInstalledException, 31, << alias);
    if (s.index.Has(KeyStoreIndex::eKeys, alias)) {
        // A new certificate for a stored key (a renewal) must be of that key. A key that cannot
        // be read cannot be compared; its alias is not held hostage by it.
        Key stored;
        bool readable = true;
        try {
            GetPrivateKey(alias, stored);
        } catch (const Exception_t& e) {
            readable = false;
            QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                        "KeyStoreImpl: the stored key of alias '"
                            << alias << "' cannot be compared with the certificate: " << e);
        }
        if (readable) CheckKeyOfCertificate(alias, cert, stored);
    }
    s.StoreCertificate(alias, pem, trusted);
}

void KeyStoreImpl::InstallCertificate(const String_t& alias, const X509Certificate& cert,
                                      const Key& privateKey, bool replace, bool trusted) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:InstallCertificate()");
    CheckAlias(alias);
    CharArray_t pem;
    cert.GetEncoded(pem);
    CharArray_t der = KeyStoreFiles::EncodePrivateKey(privateKey);
    Wiper wipeDer{der};
    CheckKeyOfCertificate(alias, cert, privateKey);
    State& s = *state_;
    s.ReadIndex();
    s.files.CreateDirectory();
    State::Lock lock(s.lockPath);
    s.BeginChange();
    // Every check before the first write: a refused install changes nothing.
    State::Previous previous;
    previous.hadCertificate =
        s.index.Lookup(KeyStoreIndex::eCertificates, alias, previous.certificate);
    previous.hadKey = s.index.Lookup(KeyStoreIndex::eKeys, alias, previous.key);
    if (!replace && previous.hadCertificate)
        QMSEC_THROW_MSG(kCoreArea, AlreadyInstalledException, 31, << alias);
    if (!replace && previous.hadKey)
        QMSEC_THROW_MSG(kCoreArea, AlreadyInstalledException, 33, << alias);
    if (previous.hadCertificate &&
        !KeyStoreFiles::ReadData(s.files.PathOf(previous.certificate.fileName), previous.pem)) {
        previous.pem = CharArray_t();
    }
    try {
        // The old key leaves the index before the new certificate arrives, and the new key
        // joins it last: whenever this process stops, the alias lists no certificate beside a
        // key that is not its own.
        if (previous.hadKey) {
            s.index.Erase(KeyStoreIndex::eKeys, alias);
            s.index.Write();
        }
        s.StoreCertificate(alias, pem, trusted);
        s.InstallPrivateKey(alias, der);
    } catch (...) {
        s.Restore(alias, previous);
        throw;
    }
}

// After an install of a certificate with its key failed: the alias as it was before, as far as
// the store allows. The previous key file was never touched (a key file is replaced only when
// complete), so listing it again brings it back; the previous certificate is written back, or
// the new one removed. The caller reports the install's own failure, not this one's.
void KeyStoreImpl::State::Restore(const String_t& alias, const Previous& previous) noexcept {
    try {
        String_t certificateFile = KeyStoreIndex::FileNameOf(alias, KeyStoreIndex::eCertificates);
        bool certificateBack = previous.hadCertificate && !previous.pem.IsEmpty();
        if (certificateBack)
            File_t::WriteAtomically(files.PathOf(certificateFile), previous.pem,
                                    KeyStoreFiles::kFileMode);
        if (certificateBack) {
            index.Put(KeyStoreIndex::eCertificates, alias, previous.certificate);
        } else {
            index.Erase(KeyStoreIndex::eCertificates, alias);
        }
        if (previous.hadKey) index.Put(KeyStoreIndex::eKeys, alias, previous.key);
        index.Write();
        if (!certificateBack) ::unlink(KeyStoreFiles::Fs(files.PathOf(certificateFile)).c_str());
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: install of alias '" << alias << "' undone");
    } catch (const Exception_t& e) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: could not undo the install of alias '" << alias << "': " << e);
    } catch (...) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: could not undo the install of alias '" << alias << "'");
    }
}

// Called with the store lock held and the checks done. Any file of the alias that the index
// does not list (left by an install that was killed) is replaced.
void KeyStoreImpl::State::StoreCertificate(const String_t& alias, const CharArray_t& pem,
                                           bool trusted) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:StoreCertificate()");
    String_t fileName = KeyStoreIndex::FileNameOf(alias, KeyStoreIndex::eCertificates);
    files.WriteCertificate(files.PathOf(fileName), pem);
    index.Add(alias, fileName,
              trusted ? KeyStoreIndex::eTrustedCertificate : KeyStoreIndex::eCertificate);
}

void KeyStoreImpl::State::InstallPrivateKey(const String_t& alias, const CharArray_t& encodedKey) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:InstallPrivateKey()");
    String_t fileName = KeyStoreIndex::FileNameOf(alias, KeyStoreIndex::eKeys);
    files.WritePrivateKey(files.PathOf(fileName), encodedKey, nodeKey);
    index.Add(alias, fileName, KeyStoreIndex::ePrivateKey);
}

void KeyStoreImpl::RemoveCertificate(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:RemoveCertificate()");
    state_->Remove(alias, true);
}

void KeyStoreImpl::RemovePrivateKey(const String_t& alias) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:RemovePrivateKey()");
    state_->Remove(alias, false);
}

void KeyStoreImpl::State::Remove(const String_t& alias, bool certificate) {
    CheckAlias(alias);
    if (!File_t(files.GetDirectory()).IsDirectory()) {
        // No directory, no entries: nothing to lock and nothing to remove.
        ReadIndex();
        return;
    }
    Lock lock(lockPath);
    files.RemoveTemporaries();
    ReadIndex();
    Kind kind = certificate ? KeyStoreIndex::eCertificates : KeyStoreIndex::eKeys;
    Entry entry;
    if (!index.Lookup(kind, alias, entry)) {
        // The index is what is installed; a file it does not list was left by an install that
        // was killed half way, and goes with the alias.
        String_t path = files.PathOf(KeyStoreIndex::FileNameOf(alias, kind));
        bool removed = ::unlink(KeyStoreFiles::Fs(path).c_str()) == 0;
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: no entry for alias '"
                        << alias << "'"
                        << (removed ? ", removed the file of an unfinished install"
                                    : ", nothing to remove"));
        return;
    }
    String_t path = files.PathOf(entry.fileName);
    bool missing = false;
    if (::unlink(KeyStoreFiles::Fs(path).c_str()) != 0) {
        int err = errno;
        if (err != ENOENT) {
            QMSEC_THROW(
                kCoreArea, KeyStoreException,
                (detail::CatalogMessage(certificate ? 36 : 37) << path)
                    .AddDetail(QmXplMsg::CreateSystemError_t(
                        err, String_t("Could not delete '" + KeyStoreFiles::Fs(path) + "'"))));
        }
        missing = true;
    }
    index.Erase(kind, alias);
    index.Write();
    // An entry whose file had gone is dropped all the same, so that the store does not keep an
    // entry that nothing can remove; the caller learns that there was nothing to delete.
    if (missing) QMSEC_THROW_MSG(kCoreArea, KeyStoreException, certificate ? 25 : 27, << alias);
}

}  // namespace QmSecCore
