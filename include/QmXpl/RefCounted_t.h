// Base of every reference-counted body of the layer and of the libraries built on it.
#pragma once

#include <utility>

#include "QmXpl/Export.h"
#include "QmXpl/MTRef_t.h"

namespace QmXplRef {

// A body starts with count 0; the handle that wraps it adds the first reference. The last
// Release() calls DestroyThis(), which by default deletes the body through its virtual
// destructor. Slot order matters to derived libraries: destructor first, DestroyThis second.
class QMXPL_API RefCounted_t {
  public:
    virtual ~RefCounted_t();
    virtual void DestroyThis();

    void AddRef() noexcept { ++refs_; }
    // Returns true when this call released the last reference (the body is gone then).
    bool Release() {
        if (--refs_ == 0) {
            DestroyThis();
            return true;
        }
        return false;
    }
    long GetRefCount() const noexcept { return refs_.Get(); }
    MTRef_t& GetCounter() noexcept { return refs_; }

  protected:
    RefCounted_t() noexcept = default;
    // A copied body is a new object with its own count.
    RefCounted_t(const RefCounted_t&) noexcept {}
    RefCounted_t& operator=(const RefCounted_t&) noexcept { return *this; }

  private:
    MTRef_t refs_;
};

// Intrusive owning pointer to a body: the layer's handles hold one of these.
template <class T>
class Ref_t {
  public:
    Ref_t() noexcept = default;
    explicit Ref_t(T* body) noexcept : body_(body) {
        if (body_) body_->AddRef();
    }
    Ref_t(const Ref_t& other) noexcept : Ref_t(other.body_) {}
    Ref_t(Ref_t&& other) noexcept : body_(std::exchange(other.body_, nullptr)) {}
    template <class U>
    Ref_t(const Ref_t<U>& other) noexcept : Ref_t(static_cast<T*>(other.Get())) {}
    ~Ref_t() { Reset(); }

    Ref_t& operator=(const Ref_t& other) {
        if (this != &other) {
            T* old = body_;
            body_ = other.body_;
            if (body_) body_->AddRef();
            if (old) old->Release();
        }
        return *this;
    }
    Ref_t& operator=(Ref_t&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(body_, std::exchange(other.body_, nullptr));
            if (old) old->Release();
        }
        return *this;
    }
    void Reset() noexcept {
        if (T* old = std::exchange(body_, nullptr)) old->Release();
    }

    T* Get() const noexcept { return body_; }
    T* operator->() const noexcept { return body_; }
    T& operator*() const noexcept { return *body_; }
    explicit operator bool() const noexcept { return body_ != nullptr; }
    bool operator==(const Ref_t& other) const noexcept { return body_ == other.body_; }

  private:
    T* body_ = nullptr;
};

}  // namespace QmXplRef
