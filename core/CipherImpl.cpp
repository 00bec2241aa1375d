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

int Cipher::Update(const CharArray_t& in, CharArray_t& out) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.Update(in, out);
}
int Cipher::Update(const char* in, CharArray_t& out) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.Update(in, out);
}
int Cipher::Update(const char* in, int length, CharArray_t& out) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.Update(in, length, out);
}
int Cipher::Update(const CharArray_t& in, int offset, int length, CharArray_t& out,
                   int outOffset) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.Update(in, offset, length, out,
                                                                         outOffset);
}
int Cipher::Update(const char* in, int length, CharArray_t& out, int outOffset) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.Update(in, length, out,
                                                                         outOffset);
}

int Cipher::DoFinal(CharArray_t& out) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.DoFinal(out);
}
int Cipher::DoFinal(CharArray_t& out, int outOffset) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.DoFinal(out, outOffset);
}
int Cipher::DoFinal(const CharArray_t& in, CharArray_t& out) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.DoFinal(in, out);
}
int Cipher::DoFinal(const char* in, CharArray_t& out) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.DoFinal(in, out);
}
int Cipher::DoFinal(const char* in, int length, CharArray_t& out) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.DoFinal(in, length, out);
}
int Cipher::DoFinal(const CharArray_t& in, int offset, int length, CharArray_t& out,
                    int outOffset) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.DoFinal(in, offset, length, out,
                                                                          outOffset);
}
int Cipher::DoFinal(const char* in, int length, CharArray_t& out, int outOffset) const {
    return detail::TransformFamily<CipherImpl>{kCoreArea, Body()}.DoFinal(in, length, out,
                                                                          outOffset);
}

}  // namespace QmSecCore
