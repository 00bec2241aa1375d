// The definition of an exception class of the library.
#pragma once

#include "QmXpl/Message_t.h"

// Out-of-line constructors and destructors give every exception class one home for its vtable
// and type information, so a throw in the library is caught by type in any program. Each class
// has its own source file with this one line.
#define QMSEC_DEFINE_EXCEPTION(Namespace, Class, Base)                             \
    Namespace::Class::Class(const QmXplMsg::Message_t& message) : Base(message) {} \
    Namespace::Class::~Class() = default;
