// The overloads of the Update/DoFinal family, written once for every transforming class (cipher,
// Base64 codec, sealer, unsealer). Each handle forwards its overloads here with its body, whose
// two primitives are
//     int Update(const char* in, int length, CharArray_t& out, int outOffset);
//     int DoFinal(CharArray_t& out, int outOffset);
// Results are the number of bytes written at the output offset. QMSEC_DEFINE_TRANSFORM_FAMILY
// below writes a handle's forwarding overloads.
#pragma once

#include <cstring>

#include "ArgumentChecks.h"

namespace QmSecCore::detail {

template <class Body>
struct TransformFamily {
    const QmSecCoreTrc::Area& area;
    Body* body;

    int Update(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const {
        return body->Update(in.GetData(), in.GetSize(), out, 0);
    }
    int Update(const char* in, QmXplArray::CharArray_t& out) const {
        return body->Update(in, in ? static_cast<int>(std::strlen(in)) : 0, out, 0);
    }
    int Update(const char* in, int length, QmXplArray::CharArray_t& out) const {
        return body->Update(in, length, out, 0);
    }
    int Update(const QmXplArray::CharArray_t& in, int offset, int length,
               QmXplArray::CharArray_t& out, int outOffset) const {
        CheckInputRange(area, in, offset, length);
        return body->Update(in.GetData() + offset, length, out, outOffset);
    }
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const {
        return body->Update(in, length, out, outOffset);
    }

    int DoFinal(QmXplArray::CharArray_t& out, int outOffset = 0) const {
        return body->DoFinal(out, outOffset);
    }
    int DoFinal(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const {
        return DoFinal(in.GetData(), in.GetSize(), out, 0);
    }
    int DoFinal(const char* in, QmXplArray::CharArray_t& out) const {
        return DoFinal(in, in ? static_cast<int>(std::strlen(in)) : 0, out, 0);
    }
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out) const {
        return DoFinal(in, length, out, 0);
    }
    int DoFinal(const QmXplArray::CharArray_t& in, int offset, int length,
                QmXplArray::CharArray_t& out, int outOffset) const {
        CheckInputRange(area, in, offset, length);
        return DoFinal(in.GetData() + offset, length, out, outOffset);
    }
    // Update with the input, then finish right after what it wrote.
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const {
        CheckBufferArgs(area, in, length, out, outOffset);
        int n = body->Update(in, length, out, outOffset);
        return n + body->DoFinal(out, outOffset + n);
    }
};

}  // namespace QmSecCore::detail

// Defines the eleven overloads of a handle's Update/DoFinal family, each forwarding to
// TransformFamily with the handle's body, inside namespace QmSecCore. doFinalQualifier is how the
// handle's header declares DoFinal(CharArray_t&, int): const, or nothing.
#define QMSEC_DEFINE_TRANSFORM_FAMILY(Handle, BodyType, area, doFinalQualifier)         \
    QMSEC_FORWARD_TRANSFORM_INPUTS(Handle, BodyType, area, Update)                      \
    QMSEC_FORWARD_TRANSFORM_INPUTS(Handle, BodyType, area, DoFinal)                     \
    int Handle::DoFinal(QmXplArray::CharArray_t& out) const {                           \
        return detail::TransformFamily<BodyType>{area, Body()}.DoFinal(out);            \
    }                                                                                   \
    int Handle::DoFinal(QmXplArray::CharArray_t& out, int outOffset) doFinalQualifier { \
        return detail::TransformFamily<BodyType>{area, Body()}.DoFinal(out, outOffset); \
    }

// The five overloads of Update or DoFinal (method) that take input.
#define QMSEC_FORWARD_TRANSFORM_INPUTS(Handle, BodyType, area, method)                             \
    int Handle::method(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const {    \
        return detail::TransformFamily<BodyType>{area, Body()}.method(in, out);                    \
    }                                                                                              \
    int Handle::method(const char* in, QmXplArray::CharArray_t& out) const {                       \
        return detail::TransformFamily<BodyType>{area, Body()}.method(in, out);                    \
    }                                                                                              \
    int Handle::method(const char* in, int length, QmXplArray::CharArray_t& out) const {           \
        return detail::TransformFamily<BodyType>{area, Body()}.method(in, length, out);            \
    }                                                                                              \
    int Handle::method(const QmXplArray::CharArray_t& in, int offset, int length,                  \
                       QmXplArray::CharArray_t& out, int outOffset) const {                        \
        return detail::TransformFamily<BodyType>{area, Body()}.method(in, offset, length, out,     \
                                                                      outOffset);                  \
    }                                                                                              \
    int Handle::method(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset)    \
        const {                                                                                    \
        return detail::TransformFamily<BodyType>{area, Body()}.method(in, length, out, outOffset); \
    }
