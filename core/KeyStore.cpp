#include "QmSecCore/KeyStore.h"

#include "KeyStoreFiles.h"
#include "QmSecCore/KeyStoreImpl.h"
#include "QmXpl/Dir_t.h"

namespace QmSecCore {

using QmXplStr::String_t;

KeyStore::KeyStore() : Object(new KeyStoreImpl(String_t::Null)) {}
KeyStore::KeyStore(const String_t& baseDir) : Object(new KeyStoreImpl(baseDir)) {}
KeyStore::~KeyStore() = default;

KeyStoreImpl* KeyStore::operator->() const noexcept {
    return static_cast<KeyStoreImpl*>(Object::operator->());
}
KeyStoreImpl* KeyStore::Body() const { return GetBody<KeyStoreImpl>("KeyStore"); }

String_t KeyStore::DirectoryOf(const String_t& baseDir) {
    using QmXplRuntime::Dir_t;
    const String_t relative("sec/ks");
    if (baseDir.IsNull()) return Dir_t::Path(Dir_t::eData, relative);
    return Dir_t::Path(baseDir.IsEmpty() ? String_t::Null : baseDir, Dir_t::eData, relative);
}

String_t KeyStore::NodeKeyFileOf(const String_t& baseDir) {
    return DirectoryOf(baseDir) + "/" + KeyStoreFiles::kNodeKeyName;
}

// The alias is the start of a file name in the store directory: "", "." and ".." give
// "_cert.pem", "._cert.pem" and ".._cert.pem", and a backslash is an ordinary character here, so
// all of them stay inside the directory, and other components sharing the store may have
// written them. Only what cannot be part of a file name is refused. A null string has no text
// to name a file (and an index record could not give it back).
bool KeyStore::IsValidAlias(const String_t& alias) noexcept {
    if (alias.IsNull()) return false;
    const std::u16string& s = alias.Str();
    for (size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'/' || c == u'\0') return false;
        // A lone surrogate has no UTF-8 form: on the file system it would become U+FFFD, and two
        // different aliases would share one file.
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// A name that a person gives is also the start of file names that other systems copy, and a
// piece of text output: "." and ".." hide the files, a backslash separates directories on some
// systems, control characters and outer blanks do not show as what they are.
bool KeyStore::IsPortableAlias(const String_t& alias) noexcept {
    if (!IsValidAlias(alias) || alias.IsEmpty()) return false;
    const std::u16string& s = alias.Str();
    if (s == u"." || s == u".." || s.front() == u' ' || s.back() == u' ') return false;
    for (char16_t c : s) {
        if (c == u'\\' || c < 0x20 || c == 0x7f) return false;
    }
    try {
        return alias.ToUtf8().size() <= 200;
    } catch (...) {
        return false;
    }
}

StringCollection& KeyStore::Aliases(StringCollection& out) const { return Body()->Aliases(out); }
StringCollection& KeyStore::KeyAliases(StringCollection& out) const {
    return Body()->KeyAliases(out);
}
X509Certificate& KeyStore::GetCertificate(const String_t& alias, X509Certificate& out) const {
    return Body()->GetCertificate(alias, out);
}
Key& KeyStore::GetPrivateKey(const String_t& alias, Key& out) const {
    return Body()->GetPrivateKey(alias, out);
}
bool KeyStore::IsCertEntry(const String_t& alias) const { return Body()->IsCertEntry(alias); }
bool KeyStore::IsTrustedCertEntry(const String_t& alias) const {
    return Body()->IsTrustedCertEntry(alias);
}
bool KeyStore::IsPrivateKeyEntry(const String_t& alias) const {
    return Body()->IsPrivateKeyEntry(alias);
}
void KeyStore::InstallCertificate(const String_t& alias, const X509Certificate& cert, bool replace,
                                  bool trusted) const {
    Body()->InstallCertificate(alias, cert, replace, trusted);
}
void KeyStore::InstallCertificate(const String_t& alias, const X509Certificate& cert,
                                  const Key& privateKey, bool replace, bool trusted) const {
    Body()->InstallCertificate(alias, cert, privateKey, replace, trusted);
}
void KeyStore::RemoveCertificate(const String_t& alias) const { Body()->RemoveCertificate(alias); }
void KeyStore::RemovePrivateKey(const String_t& alias) const { Body()->RemovePrivateKey(alias); }
bool KeyStore::HasUnlistedFile(const String_t& alias, bool privateKey) const {
    return Body()->HasUnlistedFile(alias, privateKey);
}

}  // namespace QmSecCore
