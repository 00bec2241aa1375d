// Digests the bytes read through it.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/MessageDigest.h"
#include "QmXpl/FilterInputStream_t.h"

namespace QmSecIo {

class DigestInputStreamImpl;

// Hands out the wrapped stream's bytes unchanged and, while on (from construction until Off),
// feeds each byte read to a digest that it shares with the caller: after reading, the caller's
// MessageDigest (or GetDigest()) gives the digest of what was read. Read and Available on a
// closed stream throw IllegalStateError_t 18 "DigestInputStream is already closed."; Close
// closes the wrapped stream, a second Close does nothing; the exceptions of the wrapped stream
// and the digest pass through. Not synchronised.
class QMSEC_API DigestInputStream : public QmXplIo::FilterInputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    DigestInputStream() = default;
    // Reads in (shared) and feeds digest (shared, not copied). IllegalArgumentError_t for an
    // empty in; IllegalStateError_t ("MessageDigest") for an empty digest.
    DigestInputStream(const QmXplIo::InputStream_t& in, const QmSecCore::MessageDigest& digest);
    ~DigestInputStream() override;

    // The digest the stream feeds (a handle on the same state). These three work on a closed
    // stream too; without a body they throw IllegalStateError_t ("DigestInputStream").
    QmSecCore::MessageDigest GetDigest() const;
    // Feeding on and off; bytes read while off are not digested.
    void On() const;
    void Off() const;

  private:
    DigestInputStreamImpl* DigestBody() const;
};

}  // namespace QmSecIo
