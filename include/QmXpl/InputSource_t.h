// Where an XML document comes from.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmXplXml {

using QmXplStr::String_t;

// A document's byte stream with its identifiers. A value; the stream handle is shared, not
// copied. The ids are only reported back (in SAXParseException_t); nothing is ever opened by
// them. The encoding, when set, overrides what the document declares ("UTF-8", "UTF-16",
// "ISO-8859-1", "US-ASCII").
class QMXPL_API InputSource_t {
  public:
    InputSource_t();
    explicit InputSource_t(const QmXplIo::InputStream_t& byteStream);
    InputSource_t(const InputSource_t&);
    InputSource_t& operator=(const InputSource_t&);
    ~InputSource_t();

    void SetByteStream(const QmXplIo::InputStream_t& byteStream) { stream_ = byteStream; }
    const QmXplIo::InputStream_t& GetByteStream() const noexcept { return stream_; }
    void SetSystemId(const String_t& systemId) { systemId_ = systemId; }
    const String_t& GetSystemId() const noexcept { return systemId_; }
    void SetPublicId(const String_t& publicId) { publicId_ = publicId; }
    const String_t& GetPublicId() const noexcept { return publicId_; }
    void SetEncoding(const String_t& encoding) { encoding_ = encoding; }
    const String_t& GetEncoding() const noexcept { return encoding_; }

  private:
    QmXplIo::InputStream_t stream_;
    String_t systemId_;
    String_t publicId_;
    String_t encoding_;
};

}  // namespace QmXplXml
