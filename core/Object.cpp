#include "QmSecCore/Object.h"

#include "QmSecCore/ObjectImpl.h"
#include "QmXpl/Message_t.h"
#include "Throw.h"

using QmXplMsg::IllegalStateError_t;

namespace QmSecCore {

ObjectImpl::~ObjectImpl() = default;

Object::Object(const Object& other) noexcept : body_(other.body_) {
    if (body_) body_->AddRef();
}

Object::Object(QmXplRef::RefCounted_t* body) noexcept : body_(body) {
    if (body_) body_->AddRef();
}

Object::~Object() { Release(); }

Object& Object::operator=(const Object& other) {
    if (this != &other) {
        // Reference the new body before letting go of the old one: when both are the same body
        // held by this handle alone, it must not be destroyed in between.
        if (other.body_) other.body_->AddRef();
        Release();
        body_ = other.body_;
    }
    return *this;
}

void Object::Release() noexcept {
    if (body_) {
        QmXplRef::RefCounted_t* body = body_;
        body_ = nullptr;
        body->Release();
    }
}

void Object::ThrowEmptyHandle(const char* className, HandleArea area) {
    using namespace QmSecCoreTrc;
    const QmSecCoreTrc::Area& a = area == eIoArea     ? kIoArea
                                  : area == eSslArea  ? kSslArea
                                  : area == eAuthArea ? kAuthArea
                                                      : kCoreArea;
    QMSEC_THROW(a, IllegalStateError_t, QmXplMsg::CreateWarn_t(QmXplStr::String_t(className)));
}

}  // namespace QmSecCore
