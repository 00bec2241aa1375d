// Body of KeyStore. Its installing and removing members are exported for programs that manage
// the store through KeyStore::operator->; everything else is the library's own.
#pragma once

#include <memory>

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/StringCollection.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class KeyStore;

// See KeyStore for what each operation does and throws.
class KeyStoreImpl : public ObjectImpl {
  public:
    QMSEC_API void InstallCertificate(const QmXplStr::String_t& alias, const X509Certificate& cert,
                                      bool replace, bool trusted);
    QMSEC_API void InstallCertificate(const QmXplStr::String_t& alias, const X509Certificate& cert,
                                      const Key& privateKey, bool replace, bool trusted);
    QMSEC_API void RemoveCertificate(const QmXplStr::String_t& alias);
    QMSEC_API void RemovePrivateKey(const QmXplStr::String_t& alias);

  private:
    friend class KeyStore;
    struct State;

    // The store below baseDir (null or empty: the node's installation directory). Reads the
    // node key, when nsk.dat exists, and the index, when ks.dat exists.
    explicit KeyStoreImpl(const QmXplStr::String_t& baseDir);
    ~KeyStoreImpl() override;
    void DestroyThis() override;
    void Init(const QmXplStr::String_t& baseDir);

    StringCollection& Aliases(StringCollection& out);
    StringCollection& KeyAliases(StringCollection& out);
    X509Certificate& GetCertificate(const QmXplStr::String_t& alias, X509Certificate& out);
    Key& GetPrivateKey(const QmXplStr::String_t& alias, Key& out);
    bool IsCertEntry(const QmXplStr::String_t& alias);
    bool IsTrustedCertEntry(const QmXplStr::String_t& alias);
    bool IsPrivateKeyEntry(const QmXplStr::String_t& alias);
    bool HasUnlistedFile(const QmXplStr::String_t& alias, bool privateKey);

    std::unique_ptr<State> state_;
};

}  // namespace QmSecCore
