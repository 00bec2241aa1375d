#include "X509CertificateImpl.h"

#include <openssl/objects.h>
#include <openssl/pem.h>

#include <clocale>
#include <cstdio>

#include "ArgumentChecks.h"
#include "QmSecCore/CertificateParsingException.h"
#include "QmSecCore/MessageDigest.h"
#include "RSAKey.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmSecCoreTrc::kLevelOperation;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::RuntimeException_t;
using QmXplStr::String_t;

// --- handle ----------------------------------------------------------------------------------

X509Certificate::X509Certificate(const char* data, int length)
    : Object(new X509CertificateImpl(data, length)) {}
X509Certificate::X509Certificate(const CharArray_t& encoded)
    : Object(new X509CertificateImpl(encoded.GetData(), encoded.GetSize())) {}
X509Certificate::X509Certificate(X509CertificateImpl* body) noexcept : Object(body) {}
X509Certificate::~X509Certificate() = default;

X509CertificateImpl* X509Certificate::Body() const {
    return GetBody<X509CertificateImpl>("X509Certificate");
}

CharArray_t& X509Certificate::GetEncoded(CharArray_t& out) const { return Body()->GetEncoded(out); }
String_t X509Certificate::GetFingerprint() const { return Body()->GetFingerprint(); }
Key X509Certificate::GetPublicKey() const { return Body()->GetPublicKey(); }
String_t X509Certificate::GetType() const {
    Body();
    return String_t("X509Certificate");
}
bool X509Certificate::Verify(const Key& key) const { return Body()->Verify(key); }
bool X509Certificate::CheckValidity() const { return Body()->CheckValidity(); }
String_t X509Certificate::GetNotBefore() const { return Body()->GetNotBefore(); }
String_t X509Certificate::GetNotAfter() const { return Body()->GetNotAfter(); }
String_t X509Certificate::GetIssuerCN() const { return Body()->GetIssuerCN(); }
String_t X509Certificate::GetSubjectCN() const { return Body()->GetSubjectCN(); }
String_t X509Certificate::GetIssuerDN() const { return Body()->GetIssuerDN(); }
String_t X509Certificate::GetSubjectDN() const { return Body()->GetSubjectDN(); }
String_t X509Certificate::GetSerial() const { return Body()->GetSerial(); }

// --- body ------------------------------------------------------------------------------------

namespace {

// Certificates are never encrypted, but a PEM block may still claim to be; OpenSSL would then
// ask for a password on the controlling terminal. Input from outside must fail instead.
int NoPassword(char*, int, int, void*) { return -1; }

// A common name as UTF-8, whatever string type the certificate stores it in. The first common
// name counts; none gives the empty text. A zero character would cut the name short wherever it
// is handled as a C string later, so that a name like "node1<NUL>.other" would pass for
// "node1": it is shown as U+FFFD instead. The result is cut to 255 bytes, at a character
// boundary.
String_t CommonName(const X509_NAME* name) {
    int index = name ? X509_NAME_get_index_by_NID(name, NID_commonName, -1) : -1;
    if (index < 0) return String_t("");
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    std::string utf8;
    unsigned char* converted = nullptr;
    int length = ASN1_STRING_to_UTF8(&converted, value);
    ossl::Bytes owner(converted);
    if (length >= 0) {
        utf8.assign(reinterpret_cast<const char*>(converted), static_cast<size_t>(length));
    } else {
        // Not valid in its own string type: keep the stored bytes; String_t shows what is not
        // UTF-8 as U+FFFD.
        ossl::DiscardErrors();
        utf8.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                    static_cast<size_t>(ASN1_STRING_length(value)));
    }
    std::string shown;
    shown.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '\0') {
            shown += "\xEF\xBF\xBD";
        } else {
            shown.push_back(c);
        }
    }
    constexpr size_t kMaxBytes = 255;
    if (shown.size() > kMaxBytes) {
        size_t cut = kMaxBytes;
        // Back off over continuation bytes so that no character is split.
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
        shown.resize(cut);
    }
    return String_t(shown);
}

// X509_NAME_oneline's form of a name, or null when OpenSSL cannot write it.
ossl::Text OneLine(const X509_NAME* name) {
    return ossl::Text(name ? X509_NAME_oneline(name, nullptr, 0) : nullptr);
}

}  // namespace

X509CertificateImpl::X509CertificateImpl(const char* data, int length) {
    QMSEC_BLOCK(kCoreArea.proc, "X509CertificateImpl Constructor");
    Initializer::Ensure();
    detail::CheckInput(kCoreArea, data, length);
    ossl::Bio bio = ossl::MemoryReader(data, length);
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    certificate_.reset(PEM_read_bio_X509(bio.get(), nullptr, NoPassword, nullptr));
    if (!certificate_)
        QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 91, << ossl::ErrorText());
    // Blocks of other kinds skipped on the way may have left errors behind; they must not show
    // up as the reason of a later, unrelated failure.
    ossl::DiscardErrors();
}

X509CertificateImpl::X509CertificateImpl(X509* certificate) {
    QMSEC_BLOCK(kCoreArea.proc, "X509CertificateImpl Constructor");
    Initializer::Ensure();
    if (!certificate) {
        QMSEC_THROW(kCoreArea, IllegalArgumentError_t,
                    QmXplMsg::CreateWarn_t(String_t("X509CertificateImpl: no certificate")));
    }
    X509_up_ref(certificate);
    certificate_.reset(certificate);
}

X509CertificateImpl::~X509CertificateImpl() {
    QMSEC_BLOCK(kCoreArea.proc, "X509CertificateImpl Destructor");
}

X509CertificateImpl& X509CertificateImpl::Of(const X509Certificate& certificate) {
    return *certificate.Body();
}

X509Certificate X509CertificateImpl::Wrap(X509* certificate) {
    return X509Certificate(new X509CertificateImpl(certificate));
}

CharArray_t& X509CertificateImpl::GetEncoded(CharArray_t& out) const {
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    if (PEM_write_bio_X509(bio.get(), certificate_.get()) != 1)
        QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 92, << ossl::ErrorText());
    out = ossl::Contents(bio.get());
    return out;
}

String_t X509CertificateImpl::GetFingerprint() const {
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    if (i2d_X509_bio(bio.get(), certificate_.get()) != 1)
        QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 92, << ossl::ErrorText());
    CharArray_t der = ossl::Contents(bio.get());
    CharArray_t digest;
    MessageDigest(MessageDigest::eSHA1).Digest(der, digest);

    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(static_cast<size_t>(digest.GetSize()) * 3);
    for (int i = 0; i < digest.GetSize(); ++i) {
        auto byte = static_cast<unsigned char>(digest.GetData()[i]);
        if (i > 0) text.push_back(':');
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return String_t(text);
}

Key X509CertificateImpl::GetPublicKey() const {
    ossl::PKey key(X509_get_pubkey(certificate_.get()));
    if (!key) QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 93, << ossl::ErrorText());
    // The new body takes its own reference; ours goes with key.
    return Key(new RSAKey(key.get(), Key::eRSAPublicKey));
}

bool X509CertificateImpl::Verify(const Key& key) const {
    if (key.GetType() != Key::eRSAPublicKey)
        QMSEC_THROW_MSG(kCoreArea, IllegalArgumentError_t, 94, );
    int result = X509_verify(certificate_.get(), RSAKey::PKeyOf(key));
    if (result < 0) {
        // Not a bad signature but no answer at all (an algorithm OpenSSL does not know, a key of
        // another kind than the signature's, no memory). Only a checked signature is proof that
        // the key signed the certificate, so this is no.
        QMSEC_TRACE(kCoreArea.operation, kLevelOperation,
                    "X509CertificateImpl: Signature of certificate could not be checked ("
                        << ossl::ErrorText().c_str() << ")");
    }
    ossl::DiscardErrors();
    return result == 1;
}

bool X509CertificateImpl::CheckValidity() const {
    // One moment for both ends of the period.
    time_t now = time(nullptr);
    int start = X509_cmp_time(X509_get0_notBefore(certificate_.get()), &now);
    int end = X509_cmp_time(X509_get0_notAfter(certificate_.get()), &now);
    if (start < 0 && end > 0) return true;
    if (start != 0 || end != 0) {
        ossl::DiscardErrors();
        return false;
    }
    QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 95, << ossl::ErrorText());
}

String_t X509CertificateImpl::TimeText(const ASN1_TIME* time) const {
    std::optional<detail::CertificateTime> read = detail::ReadCertificateTime(time);
    if (!read) {
        QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 95,
                        << "the validity time does not begin with the digits of a UTCTime or "
                           "GeneralizedTime");
    }
    return String_t(detail::FormatCertificateTime(*read));
}

String_t X509CertificateImpl::GetNotBefore() const {
    return TimeText(X509_get0_notBefore(certificate_.get()));
}

String_t X509CertificateImpl::GetNotAfter() const {
    return TimeText(X509_get0_notAfter(certificate_.get()));
}

String_t X509CertificateImpl::GetIssuerCN() const {
    return CommonName(X509_get_issuer_name(certificate_.get()));
}

String_t X509CertificateImpl::GetSubjectCN() const {
    return CommonName(X509_get_subject_name(certificate_.get()));
}

String_t X509CertificateImpl::GetIssuerDN() const {
    ossl::Text text = OneLine(X509_get_issuer_name(certificate_.get()));
    if (!text) QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 96, << ossl::ErrorText());
    return String_t(text.get());
}

String_t X509CertificateImpl::GetSubjectDN() const {
    ossl::Text text = OneLine(X509_get_subject_name(certificate_.get()));
    if (!text) QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 97, << ossl::ErrorText());
    return String_t(text.get());
}

String_t X509CertificateImpl::GetSerial() const {
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    if (!bio) QMSEC_THROW_MSG(kCoreArea, RuntimeException_t, 34, );
    if (i2a_ASN1_INTEGER(bio.get(), X509_get0_serialNumber(certificate_.get())) < 0)
        QMSEC_THROW_MSG(kCoreArea, CertificateParsingException, 98, << ossl::ErrorText());
    CharArray_t text = ossl::Contents(bio.get());
    return String_t(text.GetData(), text.GetSize());
}

// --- validity times --------------------------------------------------------------------------

namespace detail {

namespace {

// The value of count decimal digits at text, or -1 when one of them is not a digit.
int Digits(const unsigned char* text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The C locale, made once and kept: formatting with it leaves the process's locale (and every
// other thread's) alone.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

}  // namespace

std::optional<CertificateTime> ReadCertificateTime(const ASN1_TIME* time) {
    if (!time) return std::nullopt;
    CertificateTime read;
    read.fourDigitYear = ASN1_STRING_type(time) == V_ASN1_GENERALIZEDTIME;
    const int yearDigits = read.fourDigitYear ? 4 : 2;
    const int length = ASN1_STRING_length(time);
    const unsigned char* text = ASN1_STRING_get0_data(time);
    // Every field is read from its fixed place; a shorter text, or one with something else
    // there, is not a time this reading understands.
    if (!text || length < yearDigits + 10) return std::nullopt;
    int year = Digits(text, yearDigits);
    int fields[5];  // month, day, hour, minute, second
    for (int i = 0; i < 5; ++i) fields[i] = Digits(text + yearDigits + 2 * i, 2);
    if (year < 0 || fields[0] < 0 || fields[1] < 0 || fields[2] < 0 || fields[3] < 0 ||
        fields[4] < 0) {
        return std::nullopt;
    }
    if (!read.fourDigitYear) year += year < 50 ? 2000 : 1900;
    std::tm& tm = read.tm;
    tm.tm_year = year - 1900;
    tm.tm_mon = fields[0] - 1;
    tm.tm_mday = fields[1];
    tm.tm_hour = fields[2];
    tm.tm_min = fields[3];
    tm.tm_sec = fields[4];
    tm.tm_wday = Weekday(year, fields[0], fields[1]);
    return read;
}

int Weekday(int year, int month, int day) noexcept {
    static const int kMonthOffset[13] = {0, 0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 1 || month > 12) return 0;
    // 400 Gregorian years are a whole number of weeks; adding them keeps the year positive, so
    // that the divisions below round the way the rule needs even for January of year 0.
    int y = year + 400;
    if (month < 3) y -= 1;
    return (y + y / 4 - y / 100 + y / 400 + kMonthOffset[month] + day) % 7;
}

std::string FormatCertificateTime(const CertificateTime& time) {
    // %x is "%m/%d/%y" in the C locale. A four-digit year is written as stored, leading zeros
    // included (%Y would drop them).
    std::string format = "%x %X GMT";
    if (time.fourDigitYear) {
        char year[16];
        std::snprintf(year, sizeof year, "%04d", time.tm.tm_year + 1900);
        format = std::string("%m/%d/") + year + " %X GMT";
    }
    char text[255];
    size_t length = 0;
    if (locale_t c = CLocale()) length = strftime_l(text, sizeof text, format.c_str(), &time.tm, c);
    if (length == 0) {
        QMSEC_THROW(kCoreArea, RuntimeException_t,
                    QmXplMsg::CreateWarn_t(String_t("The validity time could not be formatted.")));
    }
    return std::string(text, length);
}

}  // namespace detail

}  // namespace QmSecCore
