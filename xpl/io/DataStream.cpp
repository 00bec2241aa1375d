#include <string>

#include "QmXpl/DataInputStream_t.h"
#include "QmXpl/DataOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "io/JavaUtf.h"

namespace QmXplIo {

using QmXplMsg::CreateWarn_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::IllegalStateError_t;
using QmXplStr::String_t;

namespace {

constexpr size_t kMaxJavaUtfBytes = 65535;

}  // namespace

// --- input -------------------------------------------------------------------------------------

class DataInputStreamImpl_t : public FilterInputStreamImpl_t {
  public:
    using FilterInputStreamImpl_t::FilterInputStreamImpl_t;

    void ReadFully(char* buf, int len, const char* what) {
        int done = 0;
        while (done < len) {
            int n = in_.Read(buf + done, len - done);
            if (n < 0) {
                throw EOFException_t(CreateWarn_t(
                    String_t(std::string("DataInputStream_t: the stream ended inside ") + what)));
            }
            done += n;
        }
    }
    uint64_t ReadBigEndian(int bytes, const char* what) {
        unsigned char b[8];
        ReadFully(reinterpret_cast<char*>(b), bytes, what);
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | b[i];
        return v;
    }
    String_t ReadJavaUTF() {
        size_t len = static_cast<size_t>(ReadBigEndian(2, "the length of a text"));
        std::string bytes(len, '\0');
        ReadFully(bytes.data(), static_cast<int>(len), "a text");
        return String_t(detail::DecodeJavaUtf(bytes));
    }
};

DataInputStream_t::DataInputStream_t(const InputStream_t& in)
    : FilterInputStream_t(new DataInputStreamImpl_t(in)) {}
DataInputStream_t::~DataInputStream_t() = default;

DataInputStreamImpl_t* DataInputStream_t::DataBody() const {
    auto* b = dynamic_cast<DataInputStreamImpl_t*>(Body());
    if (!b) throw IllegalStateError_t(CreateWarn_t(String_t("DataInputStream_t")));
    return b;
}

void DataInputStream_t::ReadFully(char* buf, int len) const {
    DataInputStreamImpl_t* b = DataBody();
    if (len < 0 || (len > 0 && !buf)) {
        throw IllegalArgumentError_t(
            CreateWarn_t(String_t("DataInputStream_t::ReadFully: illegal buffer or length")));
    }
    b->ReadFully(buf, len, "a block");
}

bool DataInputStream_t::ReadBoolean() const {
    return DataBody()->ReadBigEndian(1, "a boolean") != 0;
}
int8_t DataInputStream_t::ReadByte() const {
    return static_cast<int8_t>(DataBody()->ReadBigEndian(1, "a byte"));
}
int DataInputStream_t::ReadUnsignedByte() const {
    return static_cast<int>(DataBody()->ReadBigEndian(1, "a byte"));
}
int16_t DataInputStream_t::ReadInt16() const {
    return static_cast<int16_t>(DataBody()->ReadBigEndian(2, "a 16-bit integer"));
}
int DataInputStream_t::ReadUnsignedInt16() const {
    return static_cast<int>(DataBody()->ReadBigEndian(2, "a 16-bit integer"));
}
int32_t DataInputStream_t::ReadInt32() const {
    return static_cast<int32_t>(DataBody()->ReadBigEndian(4, "a 32-bit integer"));
}
int64_t DataInputStream_t::ReadInt64() const {
    return static_cast<int64_t>(DataBody()->ReadBigEndian(8, "a 64-bit integer"));
}
String_t DataInputStream_t::ReadJavaUTF() const { return DataBody()->ReadJavaUTF(); }

// --- output ------------------------------------------------------------------------------------

class DataOutputStreamImpl_t : public FilterOutputStreamImpl_t {
  public:
    using FilterOutputStreamImpl_t::FilterOutputStreamImpl_t;

    void WriteBigEndian(uint64_t v, int bytes) {
        char b[8];
        for (int i = bytes - 1; i >= 0; --i, v >>= 8) b[i] = static_cast<char>(v & 0xFF);
        out_.Write(b, bytes);
    }
    void WriteJavaUTF(const String_t& text) {
        size_t len = detail::JavaUtfLength(text.Str());
        if (len > kMaxJavaUtfBytes) {
            throw IOException_t(CreateWarn_t(
                String_t("DataOutputStream_t::WriteJavaUTF: the text needs " + std::to_string(len) +
                         " bytes, more than the 65535 that fit")));
        }
        std::string bytes;
        bytes.reserve(2 + len);
        bytes.push_back(static_cast<char>(len >> 8));
        bytes.push_back(static_cast<char>(len & 0xFF));
        detail::EncodeJavaUtf(text.Str(), bytes);
        out_.Write(bytes.data(), static_cast<int>(bytes.size()));
    }
};

DataOutputStream_t::DataOutputStream_t(const OutputStream_t& out)
    : FilterOutputStream_t(new DataOutputStreamImpl_t(out)) {}
DataOutputStream_t::~DataOutputStream_t() = default;

DataOutputStreamImpl_t* DataOutputStream_t::DataBody() const {
    auto* b = dynamic_cast<DataOutputStreamImpl_t*>(Body());
    if (!b) throw IllegalStateError_t(CreateWarn_t(String_t("DataOutputStream_t")));
    return b;
}

void DataOutputStream_t::WriteBoolean(bool value) const {
    DataBody()->WriteBigEndian(value ? 1 : 0, 1);
}
void DataOutputStream_t::WriteByte(int value) const {
    DataBody()->WriteBigEndian(static_cast<uint64_t>(value) & 0xFF, 1);
}
void DataOutputStream_t::WriteInt16(int value) const {
    DataBody()->WriteBigEndian(static_cast<uint64_t>(value) & 0xFFFF, 2);
}
void DataOutputStream_t::WriteInt32(int32_t value) const {
    DataBody()->WriteBigEndian(static_cast<uint32_t>(value), 4);
}
void DataOutputStream_t::WriteInt64(int64_t value) const {
    DataBody()->WriteBigEndian(static_cast<uint64_t>(value), 8);
}
void DataOutputStream_t::WriteJavaUTF(const String_t& text) const {
    DataBody()->WriteJavaUTF(text);
}

}  // namespace QmXplIo
