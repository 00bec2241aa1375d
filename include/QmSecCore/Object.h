// The handle on a reference-counted body that every public class of the library is.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/RefCounted_t.h"

namespace QmSecCore {

// A handle: empty, or holding one reference on a body. Copying shares the body; the last
// handle to let go destroys it (through the body's DestroyThis()). Equality is identity of the
// body. Derived handles add no fields; each of their methods checks for a body (throwing
// IllegalStateError_t named after the class) and forwards to it.
class QMSEC_API Object {
  public:
    // An empty handle.
    Object() noexcept = default;
    // Shares other's body (adds a reference).
    Object(const Object& other) noexcept;
    // Releases the body; the last release destroys it.
    virtual ~Object();
    // Assignment to itself changes nothing; otherwise the new body gains its reference before
    // the old one is released, so assigning a handle that shares the same body is safe.
    Object& operator=(const Object& other);

    bool operator==(const Object& other) const noexcept { return body_ == other.body_; }
    bool operator!=(const Object& other) const noexcept { return body_ != other.body_; }
    bool IsNull() const noexcept { return body_ == nullptr; }
    // The body, unchecked (null for an empty handle).
    QmXplRef::RefCounted_t* operator->() const noexcept { return body_; }

  protected:
    // Wraps body, adding a reference (null gives an empty handle). Used by derived handles to
    // take a body they have just created, or to hand out another handle on an existing one.
    explicit Object(QmXplRef::RefCounted_t* body) noexcept;

    // The trace area a handle class belongs to; its empty-handle failure is traced there.
    enum HandleArea : int { eCoreArea, eIoArea, eSslArea, eAuthArea };

    // The body as its concrete class, after the empty-handle check: throws IllegalStateError_t
    // with a warning built from className (traced first) when the handle is empty.
    template <class Body>
    Body* GetBody(const char* className, HandleArea area = eCoreArea) const {
        if (body_ == nullptr) ThrowEmptyHandle(className, area);
        return static_cast<Body*>(body_);
    }
    [[noreturn]] static void ThrowEmptyHandle(const char* className, HandleArea area);

  private:
    void Release() noexcept;
    QmXplRef::RefCounted_t* body_ = nullptr;
};

}  // namespace QmSecCore
