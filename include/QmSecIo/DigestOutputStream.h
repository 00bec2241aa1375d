// Digests the bytes written through it.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/MessageDigest.h"
#include "QmXpl/FilterOutputStream_t.h"

namespace QmSecIo {

class DigestOutputStreamImpl;

// Writes bytes unchanged to the wrapped stream and, while on (from construction until Off),
// feeds them first to a digest that it shares with the caller. Writing 0 bytes does nothing.
// Write and Flush on a closed stream throw IllegalStateError_t 19 "DigestOutputStream is already
// closed."; Close flushes and closes the wrapped stream, a second Close does nothing; the
// exceptions of the wrapped stream and the digest pass through. Not synchronised.
class QMSEC_API DigestOutputStream : public QmXplIo::FilterOutputStream_t {
  public:
    // Writes to out (shared) and feeds digest (shared, not copied). IllegalArgumentError_t for
    // an empty out; IllegalStateError_t ("MessageDigest") for an empty digest.
    DigestOutputStream(const QmXplIo::OutputStream_t& out, const QmSecCore::MessageDigest& digest);
    ~DigestOutputStream() override;

    // The digest the stream feeds (a handle on the same state). These three work on a closed
    // stream too; without a body they throw IllegalStateError_t ("DigestOutputStream").
    QmSecCore::MessageDigest GetDigest() const;
    // Feeding on and off; bytes written while off reach the wrapped stream but not the digest.
    void On() const;
    void Off() const;

  private:
    DigestOutputStreamImpl* DigestBody() const;
};

}  // namespace QmSecIo
