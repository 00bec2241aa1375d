#include "XorKeyStream.h"

#include <ctime>
#include <string_view>

#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"

namespace QmSecIo::detail {

using QmSecCoreTrc::kLevelProc;
using QmSecCoreTrc::kLevelThrow;

namespace {

// The built-in key, in seven pieces written one after the other. Streams written by any
// installation read back on any other, so neither the pieces nor their order may change.
constexpr std::string_view kKeyPieces[] = {
    "Vq3#Lm9!zTe",   "r7@Kp2$wYb", "X4&nJ8d",        "Hs6*Qa1^Gf5(Uc0)Z",
    "kE9-oB3+iN7=t", "Wd2~y",      "Mg8<Rx4>Pj6?Ch",
};

constexpr bool PiecesHaveTheirLengths() {
    constexpr size_t lengths[] = {11, 10, 7, 17, 13, 5, 14};
    size_t total = 0;
    for (size_t i = 0; i < 7; ++i) {
        if (kKeyPieces[i].size() != lengths[i]) return false;
        total += kKeyPieces[i].size();
    }
    return total == XorKeyStream::kDefaultKeyLength;
}
static_assert(PiecesHaveTheirLengths(), "the default key is 77 bytes in pieces of fixed lengths");

QmXplArray::CharArray_t DefaultKey() {
    QmXplIo::CharArrayOutputStream_t out(XorKeyStream::kDefaultKeyLength);
    for (std::string_view piece : kKeyPieces)
        out.Write(piece.data(), static_cast<int>(piece.size()));
    return out.ToCharArray();
}

}  // namespace

XorKeyStream::XorKeyStream(const QmSecCoreTrc::Area& area)
    : area_(area), key_(DefaultKey()), position_(-1) {
    QMSEC_TRACE(area_.init, kLevelProc, "XorKeyStream: Using the default key");
}

XorKeyStream::XorKeyStream(const QmSecCoreTrc::Area& area, const QmXplArray::CharArray_t& password)
    : area_(area), position_(0) {
    QMSEC_TRACE(area_.init, kLevelProc, "XorKeyStream: Using password *****");
    if (password.GetSize() > kMaxPasswordLength) {
        QMSEC_THROW_MSG(area_, QmXplIo::IOException_t, 99, << kMaxPasswordLength);
    }
    if (password.IsEmpty()) QMSEC_THROW_MSG(area_, QmXplIo::IOException_t, 176, );
    key_.Copy(password);
}

XorKeyStream::~XorKeyStream() { key_.Wipe(); }

int XorKeyStream::StartDigit() noexcept {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    char minute[3] = {};
    if (now == static_cast<std::time_t>(-1) || !gmtime_r(&now, &utc) ||
        std::strftime(minute, sizeof minute, "%M", &utc) != 2) {
        return 0;
    }
    return minute[1] - '0';
}

void XorKeyStream::TraceDeferredFailure() const noexcept {
    try {
        throw;
    } catch (const QmXplMsg::Exception_t& e) {
        QMSEC_TRACE(area_.operation, kLevelThrow,
                    "XorKeyStream: source failed after bytes were taken; they are returned and "
                    "the failure is left to the next read: "
                        << e);
    } catch (...) {
        QMSEC_TRACE(area_.operation, kLevelThrow,
                    "XorKeyStream: source failed after bytes were taken; they are returned and "
                    "the failure is left to the next read");
    }
}

}  // namespace QmSecIo::detail
