// libFuzzer target: arbitrary bytes parsed as an encoded message signature, and every getter of
// whatever signature comes out. Input from outside may be refused only with
// MessageSignatureException 45; a parsed signature must survive its own encoding: parsed again,
// it has the same flag, signature bytes, name and certificate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "QmSecCore/MessageSignature.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Message_t.h"

namespace {

using QmSecCore::MessageSignature;
using QmSecCore::MessageSignatureException;
using QmXplArray::CharArray_t;

int Number(const QmXplMsg::Exception_t& e) { return e.GetMessageList().Get(0).GetNumber(); }

bool SameBytes(const CharArray_t& a, const CharArray_t& b) {
    if (a.GetSize() != b.GetSize()) return false;
    for (int i = 0; i < a.GetSize(); ++i) {
        if (a.GetData()[i] != b.GetData()[i]) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    MessageSignature signature;
    try {
        signature = MessageSignature(
            CharArray_t(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    } catch (const MessageSignatureException& e) {
        if (Number(e) != 45) std::abort();  // refusals of input are 45 and nothing else
        return 0;
    }

    CharArray_t bytes;
    signature.GetSignature(bytes);
    if (bytes.GetSize() <= 0 || static_cast<size_t>(bytes.GetSize()) > size) std::abort();
    QmXplStr::String_t name = signature.GetSignerCN();
    bool withCertificate = signature.ContainsCertificate();
    QmXplStr::String_t fingerprint;
    try {
        fingerprint = signature.GetCertificate().GetFingerprint();
        if (!withCertificate) std::abort();
    } catch (const MessageSignatureException& e) {
        if (withCertificate || Number(e) != 46) std::abort();
    }

    CharArray_t encoded;
    try {
        signature.GetEncoded(encoded);
    } catch (const MessageSignatureException& e) {
        // A name read from non-shortest forms can need more than the 65535 bytes that the
        // encoding allows once it is written in shortest form.
        if (withCertificate || Number(e) != 47) std::abort();
        return 0;
    }
    MessageSignature again(encoded);
    CharArray_t againBytes;
    if (again.ContainsCertificate() != withCertificate) std::abort();
    if (!SameBytes(again.GetSignature(againBytes), bytes)) std::abort();
    if (again.GetSignerCN() != name) std::abort();
    if (withCertificate && again.GetCertificate().GetFingerprint() != fingerprint) std::abort();
    return 0;
}
