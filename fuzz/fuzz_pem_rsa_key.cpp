// Arbitrary bytes given to Key as PEM text of an RSA public or private key. Input from outside
// may be refused only with IOException_t 68; a key that is accepted must survive its own
// encoding: encoding it again and parsing that gives the same encoding.
//
// Input: [kind: bit 0 set = private key] [PEM text]
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "QmSecCore/Key.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/String_t.h"

using QmSecCore::Key;
using QmXplArray::CharArray_t;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 16)) return 0;
    Key::Type type = (data[0] & 1) ? Key::eRSAPrivateKey : Key::eRSAPublicKey;
    Key key;
    try {
        key = Key(type, reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    } catch (const QmXplIo::IOException_t& e) {
        if (e.GetMessageList().GetCount() == 0) __builtin_trap();
        return 0;
    }
    if (key.GetType() != type) __builtin_trap();
    if (key.GetAlgorithm() != QmXplStr::String_t("Dummy")) __builtin_trap();

    CharArray_t pem;
    key.GetEncoded(pem);
    Key again(type, pem);
    CharArray_t pemAgain;
    again.GetEncoded(pemAgain);
    if (pem.GetSize() != pemAgain.GetSize() ||
        std::memcmp(pem.GetData(), pemAgain.GetData(), static_cast<size_t>(pem.GetSize())) != 0)
        __builtin_trap();
    pem.Wipe();
    pemAgain.Wipe();
    return 0;
}
