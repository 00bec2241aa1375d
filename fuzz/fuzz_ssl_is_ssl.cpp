// libFuzzer target: SslConnection::IsSsl on arbitrary bytes. It must answer without throwing and
// only peek: every byte it looked at is still there to be read, in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "QmSecSsl/SslConnection.h"
#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/CharArrayInputStream_t.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    // The buffer size comes from the input too, so that a buffer smaller than a hello is tried.
    int bufferSize = size ? 1 + data[0] % 64 : 8;
    QmXplIo::BufferedInputStream_t in(
        QmXplIo::CharArrayInputStream_t(bytes, static_cast<int>(size)), bufferSize);
    (void)QmSecSsl::SslConnection::IsSsl(in);
    std::vector<char> back(size + 1);
    size_t got = 0;
    for (int n; got < back.size() &&
                (n = in.Read(back.data() + got, static_cast<int>(back.size() - got))) > 0;)
        got += static_cast<size_t>(n);
    if (got != size || (size && std::memcmp(back.data(), bytes, size) != 0)) std::abort();
    return 0;
}
