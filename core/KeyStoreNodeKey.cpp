#include "KeyStoreNodeKey.h"

#include <openssl/rand.h>

#include "KeyStoreIndex.h"
#include "OpenSsl.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/Crypt.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmXpl/File_t.h"
#include "Throw.h"
#include "Trace.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmXplArray::CharArray_t;
using QmXplMsg::Exception_t;
using QmXplStr::String_t;
using QmXplThread::MutexLock_t;
using Wiper = KeyStoreFiles::Wiper;

namespace {

constexpr int kNodeKeyLength = 24;  // a Triple-DES key

}  // namespace

KeyStoreNodeKey::KeyStoreNodeKey(const String_t& path)
    : path_(path), pathFs_(KeyStoreFiles::Fs(path)) {}

KeyStoreNodeKey::~KeyStoreNodeKey() { key_.Wipe(); }

void KeyStoreNodeKey::Load() {
    MutexLock_t lock(mutex_);
    Read();
}

// A process that finds nsk.dat under the store lock uses it, and only one that finds none
// creates it.
void KeyStoreNodeKey::Ensure(const KeyStoreIndex& index) {
    MutexLock_t lock(mutex_);
    if (KeyStoreFiles::VersionOf(pathFs_).exists) {
        Read();
        return;
    }
    CharArray_t key;
    Wiper wipeKey{key};
    if (!key_.IsEmpty()) {
        // The file has gone, but the key it held is known: every key file of the store is
        // encrypted under it, so it is written back rather than replaced by a new one.
        key.Copy(key_);
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: node specific key file missing, writing the known key again");
    } else {
        // Every key file the index lists is encrypted under the key that was in the file; a new
        // one would make them all unreadable for good. The file has to come back instead.
        if (index.HasKeys()) QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 182, << path_);
        key.Resize(kNodeKeyLength);
        unsigned char* bytes = reinterpret_cast<unsigned char*>(key.GetData());
        if (RAND_bytes(bytes, kNodeKeyLength) != 1) {
            QMSEC_THROW(kCoreArea, KeyStoreException,
                        (detail::CatalogMessage(24) << path_)
                            .AddDetail(QmXplMsg::CreateWarn_t(String_t(
                                "The random generator failed (" + ossl::ErrorText() + ")."))));
        }
        for (int i = 0; i < kNodeKeyLength; ++i) {
            if (bytes[i] == 0) bytes[i] = 0x23;
        }
    }
    CharArray_t text;
    Crypt().Encrypt(key, text);
    try {
        QmXplIo::File_t::WriteAtomically(path_, text, KeyStoreFiles::kFileMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(24) << path_).AddDetails(e.GetMessageList()));
    }
    key_.Wipe();
    key_.Copy(key);
    version_ = KeyStoreFiles::VersionOf(pathFs_);
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: wrote node specific key file '" << path_ << "'");
}

// Called with the mutex held. Reads nsk.dat unless the key in memory came from this very
// version of it; false when there is no such file.
bool KeyStoreNodeKey::Read() {
    KeyStoreFiles::Version version = KeyStoreFiles::VersionOf(pathFs_);
    if (!version.exists) return false;
    if (!key_.IsEmpty() && version == version_) return true;
    CharArray_t text;
    if (!KeyStoreFiles::ReadData(path_, text) || text.IsEmpty())
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 21, << path_);
    CharArray_t key;
    Wiper wipeKey{key};
    try {
        Crypt().Decrypt(text, key);
    } catch (const BadPaddingException& e) {
        // Said in the store's terms, and only so: the provider's key is not the one the file
        // was made with (another node's secret, a secret made anew), or the file is damaged; a
        // padding error would send the operator after the wrong thing.
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: node specific key file does not decrypt: " << e);
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 183, << path_);
    }
    if (key.GetSize() != kNodeKeyLength)
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 183, << path_);
    key_.Wipe();
    key_.Copy(key);
    version_ = version;
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: read node specific key file '" << path_ << "'");
    return true;
}

CharArray_t KeyStoreNodeKey::Get() {
    MutexLock_t lock(mutex_);
    if (!Read() && key_.IsEmpty()) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    detail::CatalogMessage(29).AddDetail(detail::CatalogMessage(21) << path_));
    }
    return key_;
}

}  // namespace QmSecCore
