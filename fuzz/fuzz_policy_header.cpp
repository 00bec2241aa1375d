// The policy header handler on arbitrary bytes, through the layer's SAX parser: the parse ends
// with the three values, a parse exception or the handler's missing-file-name failure.
#include <cstddef>
#include <cstdint>

#include "PolicyHeaderXmlHandler.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/SAXParser_t.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QmSecAuth::PolicyHeaderXmlHandler handler;
    QmXplXml::SAXParser_t parser;
    parser.SetContentHandler(&handler);
    QmXplArray::CharArray_t bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    try {
        parser.Parse(QmXplIo::CharArrayInputStream_t(bytes));
        (void)handler.GetPolicyName().GetLength();
    } catch (const QmXplMsg::Exception_t&) {
    }
    return 0;
}
