// The Cipher handle: chooses the body by algorithm and forwards.
#include "CipherImpl.h"

#include "QmSecCore/X509Certificate.h"
#include "RSACipher.h"
#include "SecretKeyCipher.h"
#include "TransformFamily.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmXplArray::CharArray_t;

namespace {

CipherImpl* NewCipher(Cipher::OpMode mode, const Key& key, Key::Algorithm algorithm) {
    if (algorithm == Key::eRSA) return new RSACipher(mode, key);
    return new SecretKeyCipher(mode, key, algorithm);
}

}  // namespace

CipherImpl::~CipherImpl() = default;

Cipher::Cipher(OpMode mode, const Key& key, Key::Algorithm algorithm)
    : Object(NewCipher(mode, key, algorithm)) {}
Cipher::Cipher(OpMode mode, const X509Certificate& certificate, Key::Algorithm algorithm)
    : Object(NewCipher(mode, certificate.GetPublicKey(), algorithm)) {}
Cipher::~Cipher() = default;

CipherImpl* Cipher::Body() const { return GetBody<CipherImpl>("Cipher"); }

Key::Algorithm Cipher::GetAlgorithm() const { return Body()->GetAlgorithm(); }
int Cipher::GetOutputSize(int inputLength) const { return Body()->GetOutputSize(inputLength); }
void Cipher::Reset(OpMode mode, const Key& key) const { Body()->Reset(mode, key); }

QMSEC_DEFINE_TRANSFORM_FAMILY(Cipher, CipherImpl, kCoreArea, const)

}  // namespace QmSecCore
