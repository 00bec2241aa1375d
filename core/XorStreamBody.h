// What the four scrambling bodies share (unbuffered and buffered, reading and writing): the key,
// the open state, their trace names and their closed-stream message.
#pragma once

#include "QmXpl/CharArray_t.h"
#include "QmXpl/IOException_t.h"
#include "Throw.h"
#include "XorKeyStream.h"

namespace QmSecIo::detail {

// A body class's trace names ("<Body> Constructor", "<Body> Destructor", "<Body>::DestroyThis()")
// and its closed-stream message: catalog number closed, or number 0 with closedText.
struct XorBodyNames {
    const char *constructor, *destructor, *destroyThis;
    int closed;
    const char* closedText;
};

// Base is the platform's body the scrambling body extends: a filter or a buffered stream body,
// reading or writing.
template <class Base>
class XorStreamBody : public Base {
  public:
    void DestroyThis() override {
        QMSEC_BLOCK(area_.proc, names_.destroyThis);
        delete this;
    }

  protected:
    // The default key.
    template <class Stream>
    XorStreamBody(const QmSecCoreTrc::Area& area, const XorBodyNames& names, const Stream& stream)
        : Base(stream), area_(area), names_(names), key_(area) {
        QMSEC_BLOCK(area_.proc, names_.constructor);
    }
    // The password's bytes as key; IOException_t 99 or 176 as XorKeyStream.
    template <class Stream>
    XorStreamBody(const QmSecCoreTrc::Area& area, const XorBodyNames& names, const Stream& stream,
                  const QmXplArray::CharArray_t& password)
        : Base(stream), area_(area), names_(names), key_(area, password) {
        QMSEC_BLOCK(area_.proc, names_.constructor);
    }
    ~XorStreamBody() override { QMSEC_BLOCK(area_.proc, names_.destructor); }

    // IOException_t with the closed-stream message once the stream is closed.
    void CheckOpen() const {
        if (open_) return;
        QMSEC_THROW(area_, QmXplIo::IOException_t,
                    names_.closedText ? QmSecCore::detail::CatalogMessage(0, names_.closedText)
                                      : QmSecCore::detail::CatalogMessage(names_.closed));
    }

    const QmSecCoreTrc::Area& area_;
    const XorBodyNames& names_;
    XorKeyStream key_;
    bool open_ = true;
};

}  // namespace QmSecIo::detail
