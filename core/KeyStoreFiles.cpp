#include "KeyStoreFiles.h"

#include <dirent.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

#include "KeyImpl.h"
#include "KeyStoreNodeKey.h"
#include "OpenSsl.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/EntryNotFoundException.h"
#include "QmSecCore/InvalidKeyException.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmSecIo/CipherInputStream.h"
#include "QmSecIo/CipherOutputStream.h"
#include "QmXpl/AtomicFileOutputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/UTF8_t.h"
#include "Throw.h"
#include "Trace.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmXplArray::CharArray_t;
using QmXplIo::File_t;
using QmXplIo::IOException_t;
using QmXplMsg::Exception_t;
using QmXplMsg::RuntimeException_t;
using QmXplStr::String_t;

namespace {

constexpr int kChunk = 4096;

// A temporary that AtomicFile leaves beside its target while it writes: "." + name + ".tmp-"
// and a random tail of letters and digits (six or more).
bool IsTemporaryName(const char* name) {
    std::string_view n(name);
    size_t at = n.rfind(".tmp-");
    if (n.size() < 2 || n[0] != '.' || at == std::string_view::npos || at == 0) return false;
    std::string_view tail = n.substr(at + 5);
    return tail.size() >= 6 && std::all_of(tail.begin(), tail.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c));
           });
}

}  // namespace

KeyStoreFiles::Version KeyStoreFiles::VersionOf(const std::string& path) noexcept {
    Version v;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return v;
    v.exists = true;
    v.size = static_cast<int64_t>(st.st_size);
    v.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    v.inode = static_cast<uint64_t>(st.st_ino);
    v.device = static_cast<uint64_t>(st.st_dev);
    return v;
}

std::string KeyStoreFiles::Fs(const String_t& path) { return QmXplStr::UTF8_t(path).Str(); }

bool KeyStoreFiles::ReadData(const String_t& path, CharArray_t& out) {
    QMSEC_BLOCK(kCoreArea.proc, "KeyStoreImpl:ReadDataFromFile()");
    if (path.IsEmpty()) return false;
    try {
        out = File_t::ReadAll(path);
        return true;
    } catch (const Exception_t& e) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: could not read '" << path << "': " << e);
        return false;
    }
}

// Made before anything is stored, so that a key that cannot be stored leaves the store as it
// was.
CharArray_t KeyStoreFiles::EncodePrivateKey(const Key& key) {
    if (key.GetType() != Key::eRSAPrivateKey) QMSEC_THROW_MSG(kCoreArea, InvalidKeyException, 79, );
    EVP_PKEY* pkey = RSAKey::PKeyOf(key);
    if (!pkey) QMSEC_THROW_MSG(kCoreArea, InvalidKeyException, 79, );
    // A secure-heap buffer, wiped when it is freed.
    ossl::Bio bio(BIO_new(BIO_s_secmem()));
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    if (i2d_PKCS8PrivateKey_bio(bio.get(), pkey, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 35, << ossl::ErrorText());
    return ossl::Contents(bio.get());
}

KeyStoreFiles::KeyStoreFiles(const String_t& dir) : dir_(dir), dirFs_(Fs(dir)) {}

String_t KeyStoreFiles::PathOf(const String_t& fileName) const { return dir_ + "/" + fileName; }

void KeyStoreFiles::CreateDirectory() const {
    File_t dir(dir_);
    if (dir.IsDirectory()) return;
    try {
        // The store's parent ("sec") holds nothing but the store: as private as the store itself.
        String_t parent = dir.GetParent();
        if (!parent.IsNull()) QmXplRuntime::Dir_t::Create(parent, kDirectoryMode);
        QmXplRuntime::Dir_t::Create(dir_, kDirectoryMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(22) << dir_).AddDetails(e.GetMessageList()));
    }
    // Another process may have made the directory meanwhile, with a mode of its own; the
    // store's directory is its owner's alone.
    try {
        dir.SetPermissions(kDirectoryMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(174) << dir_).AddDetails(e.GetMessageList()));
    }
    QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                "KeyStoreImpl: created directory '" << dir_ << "'");
}

// Anyone who may rename entries of the store's directory may put a key or certificate of their
// own in place of the node's, or a trusted certificate beside them: such a store is not used.
void KeyStoreFiles::RefuseSharedDirectory() const {
    if (File_t(dir_).IsWritableByOthers())
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 178, << dir_);
}

// Every file of the store is written under the store lock, so a temporary found while it is
// held belongs to a writer that died before it could finish or remove it.
void KeyStoreFiles::RemoveTemporaries() const {
    DIR* dir = ::opendir(dirFs_.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (IsTemporaryName(e->d_name)) names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        int rc = ::unlink((dirFs_ + "/" + name).c_str());
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: removing the temporary '" << name << "' of an unfinished write"
                                                             << (rc == 0 ? "" : " failed"));
    }
}

void KeyStoreFiles::WriteCertificate(const String_t& path, const CharArray_t& pem) const {
    try {
        File_t::WriteAtomically(path, pem, kFileMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(32) << path).AddDetails(e.GetMessageList()));
    }
}

void KeyStoreFiles::WritePrivateKey(const String_t& path, const CharArray_t& encodedKey,
                                    KeyStoreNodeKey& nodeKey) const {
    CharArray_t key = nodeKey.Get();
    Wiper wipeNodeKey{key};
    Cipher cipher(Cipher::eEncrypt, Key(Key::eSecretKey, key), Key::eDES3);
    std::optional<QmXplIo::AtomicFileOutputStream_t> file;
    try {
        file.emplace(path, kFileMode);
    } catch (const Exception_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(28) << path).AddDetails(e.GetMessageList()));
    }
    // The file appears only when Close has written all of it; a failure leaves any earlier
    // file of the alias as it was.
    try {
        QmSecIo::CipherOutputStream out(*file, cipher);
        out.Write(encodedKey.GetData(), encodedKey.GetSize());
        out.Close();
    } catch (const IOException_t& e) {
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(32) << path).AddDetails(e.GetMessageList()));
    }
}

Key& KeyStoreFiles::ReadPrivateKey(const String_t& alias, const String_t& path,
                                   KeyStoreNodeKey& nodeKey, Key& out) const {
    std::optional<QmXplIo::FileInputStream_t> file;
    try {
        file.emplace(path);
    } catch (const Exception_t& e) {
        if (!File_t(path).Exists())
            QMSEC_THROW_MSG(kCoreArea, EntryNotFoundException, 27, << alias);
        QMSEC_THROW(kCoreArea, KeyStoreException,
                    (detail::CatalogMessage(28) << path).AddDetails(e.GetMessageList()));
    }

    CharArray_t key = nodeKey.Get();
    Wiper wipeNodeKey{key};
    Cipher cipher(Cipher::eDecrypt, Key(Key::eSecretKey, key), Key::eDES3);
    QmSecIo::CipherInputStream in(*file, cipher);
    // The decrypted key passes through these buffers only, each wiped when it is left.
    QmXplIo::CharArrayOutputStream_t collected(kChunk);
    CharArray_t chunk(kChunk);
    Wiper wipeChunk{chunk};
    try {
        for (;;) {
            int n = in.Read(chunk.GetData(), kChunk);
            if (n <= 0) break;
            collected.Write(chunk.GetData(), n);
        }
        in.Close();
    } catch (...) {
        collected.Reset();
        throw;
    }
    CharArray_t der = collected.ToCharArray();
    Wiper wipeDer{der};
    collected.Reset();

    ossl::Bio bio = ossl::MemoryReader(der.GetData(), der.GetSize());
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    ossl::Pkcs8Info info(d2i_PKCS8_PRIV_KEY_INFO_bio(bio.get(), nullptr));
    ossl::PKey pkey(info ? EVP_PKCS82PKEY(info.get()) : nullptr);
    if (!pkey) {
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "KeyStoreImpl: not a PKCS #8 key: " << ossl::ErrorText());
        QMSEC_THROW_MSG(kCoreArea, KeyStoreException, 30, );
    }
    out = Key(new RSAKey(pkey.get(), Key::eRSAPrivateKey));
    return out;
}

}  // namespace QmSecCore
