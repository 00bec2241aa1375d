// The layer's data-stream reader on arbitrary bytes: ReadJavaUTF, ReadInt32 and friends must
// either return a value or throw the layer's exceptions, never crash or read out of bounds.
#include <cstddef>
#include <cstdint>

#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/DataInputStream_t.h"
#include "QmXpl/Message_t.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the sequence of reads; the rest is the stream.
    uint8_t plan = data[0];
    QmXplArray::CharArray_t bytes(reinterpret_cast<const char*>(data + 1),
                                  static_cast<int>(size - 1));
    QmXplIo::DataInputStream_t in{QmXplIo::CharArrayInputStream_t(bytes)};
    try {
        for (int i = 0; i < 64; ++i) {
            switch ((plan >> (i % 4 * 2)) & 3) {
                case 0:
                    (void)in.ReadJavaUTF();
                    break;
                case 1:
                    (void)in.ReadInt32();
                    break;
                case 2:
                    (void)in.ReadBoolean();
                    break;
                case 3:
                    (void)in.ReadInt16();
                    break;
            }
        }
    } catch (const QmXplMsg::Exception_t&) {
        // End of data or malformed input: the expected ways out.
    }
    return 0;
}
