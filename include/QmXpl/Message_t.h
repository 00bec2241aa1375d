// Catalog messages with inserts and details, message lists, and the layer's exceptions.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "QmXpl/Export.h"
#include "QmXpl/MessageCatalog_t.h"
#include "QmXpl/String_t.h"

namespace QmXplMsg {

using QmXplStr::String_t;

class Message_t;

// Flag bits of Format(). They combine; kFormatText overrides the two prefixes.
//   kFormatNumber   0x01  prefix "[catalog number] " to catalog messages
//   kFormatSeverity 0x02  prefix "Warning: " or "Error: "
//   kFormatDetails  0x04  include attached detail messages (recursively)
//   kFormatText     0x10  the bare text with its inserts, nothing else
//   kFormatOneLine  0x20  one line: messages joined by "; ", details in "(...)";
//                         without it every message and detail is on a line of its own, details
//                         indented by two blanks per level
// The library writes trace lines with 37 (number, details, one line) and builds console
// labels with 16 (text only).
enum FormatFlags : int {
    kFormatNumber = 0x01,
    kFormatSeverity = 0x02,
    kFormatDetails = 0x04,
    kFormatText = 0x10,
    kFormatOneLine = 0x20,
};

// An ordered list of messages.
class QMXPL_API MessageList_t {
  public:
    MessageList_t();
    MessageList_t(const Message_t& first);
    MessageList_t(const MessageList_t&);
    MessageList_t(MessageList_t&&) noexcept;
    MessageList_t& operator=(const MessageList_t&);
    MessageList_t& operator=(MessageList_t&&) noexcept;
    ~MessageList_t();

    MessageList_t& Add(const Message_t& message);
    MessageList_t& Add(const MessageList_t& messages);
    int GetCount() const noexcept;
    bool IsEmpty() const noexcept { return GetCount() == 0; }
    const Message_t& Get(int index) const;  // index must be in range
    void Clear() noexcept;
    String_t Format(int flags) const;

    std::vector<Message_t>::const_iterator begin() const;
    std::vector<Message_t>::const_iterator end() const;

  private:
    std::vector<Message_t> items_;
};

enum class Severity_t : int { eNone = 0, eWarning = 1, eError = 2 };

// One message: catalog name and number (0 and empty for plain texts), severity, a text with
// placeholders %1..%9 that operator<< fills in order, and attached detail messages.
class QMXPL_API Message_t {
  public:
    Message_t();
    // A catalog message; the text is the catalog's translation of number or defaultText.
    Message_t(const MessageCatalog_t& catalog, int number, const String_t& defaultText,
              Severity_t severity);
    // A message with a plain text and no catalog.
    Message_t(const String_t& text, Severity_t severity);
    Message_t(const Message_t&);
    Message_t(Message_t&&) noexcept;
    Message_t& operator=(const Message_t&);
    Message_t& operator=(Message_t&&) noexcept;
    virtual ~Message_t();

    // Inserts fill %1, %2, ... in the order they are given.
    Message_t& operator<<(const String_t& insert);
    Message_t& operator<<(const char* insert);  // null inserts "(null)"
    Message_t& operator<<(int insert);
    Message_t& operator<<(unsigned int insert);
    Message_t& operator<<(long long insert);

    Message_t& AddDetail(const Message_t& detail);
    Message_t& AddDetails(const MessageList_t& details);
    const MessageList_t& GetDetails() const noexcept { return details_; }

    // The text with the inserts filled; a placeholder without insert stays as it is.
    String_t GetText() const;
    const String_t& GetTemplate() const noexcept { return template_; }
    const String_t& GetCatalogName() const noexcept { return catalog_; }
    int GetNumber() const noexcept { return number_; }
    Severity_t GetSeverity() const noexcept { return severity_; }
    int GetInsertCount() const noexcept { return static_cast<int>(inserts_.size()); }
    String_t Format(int flags) const;

  private:
    friend class MessageList_t;
    void FormatInto(String_t& out, int flags, int depth) const;

    String_t catalog_;
    int number_ = 0;
    Severity_t severity_ = Severity_t::eNone;
    String_t template_;
    std::vector<String_t> inserts_;
    MessageList_t details_;
};

// Builders: a catalog message, or a plain text, with the severity of the class name.
class QMXPL_API CreateMessage_t : public Message_t {
  public:
    CreateMessage_t(const MessageCatalog_t& catalog, int number, const String_t& defaultText)
        : Message_t(catalog, number, defaultText, Severity_t::eNone) {}
    explicit CreateMessage_t(const String_t& text) : Message_t(text, Severity_t::eNone) {}
};

class QMXPL_API CreateWarn_t : public Message_t {
  public:
    CreateWarn_t(const MessageCatalog_t& catalog, int number, const String_t& defaultText)
        : Message_t(catalog, number, defaultText, Severity_t::eWarning) {}
    explicit CreateWarn_t(const String_t& text) : Message_t(text, Severity_t::eWarning) {}
};

class QMXPL_API CreateError_t : public Message_t {
  public:
    CreateError_t(const MessageCatalog_t& catalog, int number, const String_t& defaultText)
        : Message_t(catalog, number, defaultText, Severity_t::eError) {}
    explicit CreateError_t(const String_t& text) : Message_t(text, Severity_t::eError) {}
};

// An error message for a failed system call: "<what>: <strerror text> (errno <n>)".
class QMXPL_API CreateSystemError_t : public Message_t {
  public:
    CreateSystemError_t(int errnum, const String_t& what);
};

// Base of every exception of the layer and of the libraries on it. Carries a list of messages;
// what() gives them formatted with number, details and one message per line.
class QMXPL_API Exception_t : public std::exception {
  public:
    explicit Exception_t(const Message_t& message);
    explicit Exception_t(const MessageList_t& messages);
    Exception_t(const Exception_t&);
    Exception_t& operator=(const Exception_t&);
    ~Exception_t() override;

    const MessageList_t& GetMessageList() const noexcept { return messages_; }
    // Appends a message (for callers that add context while the exception passes).
    void AddMessage(const Message_t& message);
    const char* what() const noexcept override;

  private:
    void Render();
    MessageList_t messages_;
    std::string what_;
};

class QMXPL_API RuntimeException_t : public Exception_t {
  public:
    using Exception_t::Exception_t;
    ~RuntimeException_t() override;
};

class QMXPL_API LogicError_t : public Exception_t {
  public:
    using Exception_t::Exception_t;
    ~LogicError_t() override;
};

class QMXPL_API IllegalStateError_t : public LogicError_t {
  public:
    using LogicError_t::LogicError_t;
    ~IllegalStateError_t() override;
};

class QMXPL_API IllegalArgumentError_t : public LogicError_t {
  public:
    using LogicError_t::LogicError_t;
    ~IllegalArgumentError_t() override;
};

}  // namespace QmXplMsg
