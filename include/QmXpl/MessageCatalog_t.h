// A named catalog of numbered message texts.
#pragma once

#include <memory>

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplMsg {

// A catalog names a set of numbered messages. The default text of each message is given where
// the message is built; a translation may come from the file
//   $QMXPL_HOME/nls/<language>/<catalog name>.cat
// where <language> is the language part of LC_ALL, LC_MESSAGES or LANG ("de" for
// "de_DE.UTF-8"). The file is UTF-8, one message per line: the number, one blank or tab, and
// the text, which may use \n, \t and \\ escapes and the same %1..%9 inserts as the default
// text. Lines starting with '#' and blank lines are ignored. Number 0 is never translated: it is
// shared by messages whose texts differ. The file is read once, on the first lookup; a missing
// or unreadable file means the default texts are used.
class QMXPL_API MessageCatalog_t {
  public:
    explicit MessageCatalog_t(const QmXplStr::String_t& name);
    ~MessageCatalog_t();
    MessageCatalog_t(const MessageCatalog_t&) = delete;
    MessageCatalog_t& operator=(const MessageCatalog_t&) = delete;

    const QmXplStr::String_t& GetName() const noexcept;
    // The translated text of number, or defaultText when there is none. Thread-safe.
    QmXplStr::String_t Lookup(int number, const QmXplStr::String_t& defaultText) const;

  private:
    struct Body;
    std::unique_ptr<Body> body_;
};

}  // namespace QmXplMsg
