#include "QmXpl/Message_t.h"

#include <cstring>

#include "QmXpl/UTF8_t.h"

namespace QmXplMsg {

// --- MessageList_t ---------------------------------------------------------------------------

MessageList_t::MessageList_t() = default;
MessageList_t::MessageList_t(const Message_t& first) { items_.push_back(first); }
MessageList_t::MessageList_t(const MessageList_t&) = default;
MessageList_t::MessageList_t(MessageList_t&&) noexcept = default;
MessageList_t& MessageList_t::operator=(const MessageList_t&) = default;
MessageList_t& MessageList_t::operator=(MessageList_t&&) noexcept = default;
MessageList_t::~MessageList_t() = default;

MessageList_t& MessageList_t::Add(const Message_t& message) {
    items_.push_back(message);
    return *this;
}

MessageList_t& MessageList_t::Add(const MessageList_t& messages) {
    if (&messages == this) {
        std::vector<Message_t> copy(items_);
        items_.insert(items_.end(), copy.begin(), copy.end());
    } else {
        items_.insert(items_.end(), messages.items_.begin(), messages.items_.end());
    }
    return *this;
}

int MessageList_t::GetCount() const noexcept { return static_cast<int>(items_.size()); }

const Message_t& MessageList_t::Get(int index) const {
    return items_.at(static_cast<size_t>(index));
}

void MessageList_t::Clear() noexcept { items_.clear(); }

std::vector<Message_t>::const_iterator MessageList_t::begin() const { return items_.begin(); }
std::vector<Message_t>::const_iterator MessageList_t::end() const { return items_.end(); }

String_t MessageList_t::Format(int flags) const {
    String_t out("");
    bool first = true;
    for (const auto& m : items_) {
        if (!first) out.Append(String_t((flags & kFormatOneLine) ? "; " : "\n"));
        first = false;
        m.FormatInto(out, flags, 0);
    }
    return out;
}

// --- Message_t -------------------------------------------------------------------------------

Message_t::Message_t() = default;

Message_t::Message_t(const MessageCatalog_t& catalog, int number, const String_t& defaultText,
                     Severity_t severity)
    : catalog_(catalog.GetName()),
      number_(number),
      severity_(severity),
      template_(catalog.Lookup(number, defaultText)) {}

Message_t::Message_t(const String_t& text, Severity_t severity)
    : severity_(severity), template_(text) {}

Message_t::Message_t(const Message_t&) = default;
Message_t::Message_t(Message_t&&) noexcept = default;
Message_t& Message_t::operator=(const Message_t&) = default;
Message_t& Message_t::operator=(Message_t&&) noexcept = default;
Message_t::~Message_t() = default;

Message_t& Message_t::operator<<(const String_t& insert) {
    inserts_.push_back(insert);
    return *this;
}

Message_t& Message_t::operator<<(const char* insert) {
    inserts_.emplace_back(insert ? insert : "(null)");
    return *this;
}

Message_t& Message_t::operator<<(int insert) { return *this << static_cast<long long>(insert); }

Message_t& Message_t::operator<<(unsigned int insert) {
    return *this << static_cast<long long>(insert);
}

Message_t& Message_t::operator<<(long long insert) {
    inserts_.emplace_back(std::to_string(insert));
    return *this;
}

Message_t& Message_t::AddDetail(const Message_t& detail) {
    details_.Add(detail);
    return *this;
}

Message_t& Message_t::AddDetails(const MessageList_t& details) {
    details_.Add(details);
    return *this;
}

String_t Message_t::GetText() const {
    // One pass over the template: "%n" with a digit 1..9 takes insert n when there is one;
    // inserted text is never scanned again, so an insert holding "%1" stays as it is.
    const std::u16string& t = template_.Str();
    std::u16string out;
    out.reserve(t.size() + 16 * inserts_.size());
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == u'%' && i + 1 < t.size() && t[i + 1] >= u'1' && t[i + 1] <= u'9') {
            size_t n = static_cast<size_t>(t[i + 1] - u'1');
            if (n < inserts_.size()) {
                out += inserts_[n].Str();
                ++i;
                continue;
            }
        }
        out.push_back(t[i]);
    }
    return String_t(std::move(out));
}

void Message_t::FormatInto(String_t& out, int flags, int depth) const {
    bool oneLine = flags & kFormatOneLine;
    if (!oneLine && depth > 0) out.Append(String_t(2 * depth, u' '));
    if (!(flags & kFormatText)) {
        if ((flags & kFormatNumber) && !catalog_.IsEmpty()) {
            out.Append(String_t("[") + catalog_ + " " + String_t(std::to_string(number_)) + "] ");
        }
        if (flags & kFormatSeverity) {
            if (severity_ == Severity_t::eWarning) out.Append(String_t("Warning: "));
            if (severity_ == Severity_t::eError) out.Append(String_t("Error: "));
        }
    }
    out.Append(GetText());
    if (!(flags & kFormatDetails) || details_.IsEmpty()) return;
    if (oneLine) {
        out.Append(String_t(" ("));
        bool first = true;
        for (const auto& d : details_) {
            if (!first) out.Append(String_t("; "));
            first = false;
            d.FormatInto(out, flags, depth + 1);
        }
        out.Append(u')');
    } else {
        for (const auto& d : details_) {
            out.Append(u'\n');
            d.FormatInto(out, flags, depth + 1);
        }
    }
}

String_t Message_t::Format(int flags) const {
    String_t out("");
    FormatInto(out, flags, 0);
    return out;
}

namespace {

String_t SystemErrorText(int errnum, const String_t& what) {
    char buf[256];
    const char* text = strerror_r(errnum, buf, sizeof buf);  // GNU variant returns the text
    return what + ": " + String_t(text) + " (errno " + String_t(std::to_string(errnum)) + ")";
}

}  // namespace

CreateSystemError_t::CreateSystemError_t(int errnum, const String_t& what)
    : Message_t(SystemErrorText(errnum, what), Severity_t::eError) {}

}  // namespace QmXplMsg
