// Argument checks shared by every class that takes input as (array, offset, length) or writes
// output at an offset, so that each failure has one message everywhere.
#pragma once

#include <climits>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Message_t.h"
#include "Throw.h"

namespace QmSecCore::detail {

// A negative length: IllegalArgumentError_t 40 "Illegal input length.".
inline void CheckLength(const QmSecCoreTrc::Area& area, int length) {
    if (length < 0) QMSEC_THROW_MSG(area, QmXplMsg::IllegalArgumentError_t, 40, );
}

// Input given as pointer and length: a negative length, or a null pointer with bytes to read,
// is IllegalArgumentError_t 40, raised before anything is read. A null pointer with length 0
// is no input.
inline void CheckInput(const QmSecCoreTrc::Area& area, const char* data, int length) {
    if (length < 0 || (length > 0 && !data))
        QMSEC_THROW_MSG(area, QmXplMsg::IllegalArgumentError_t, 40, );
}

// offset and length must lie inside data: IllegalArgumentError_t 42 "Illegal input length or
// offset.". Computed without overflow.
inline void CheckArrayRange(const QmSecCoreTrc::Area& area, const QmXplArray::CharArray_t& data,
                            int offset, int length) {
    if (offset < 0 || length < 0 || offset > data.GetSize() || length > data.GetSize() - offset) {
        QMSEC_THROW_MSG(area, QmXplMsg::IllegalArgumentError_t, 42, );
    }
}

// The Update/DoFinal family's argument check: length not negative, input not null when there are
// bytes to read, outOffset inside out or at its end: IllegalArgumentError_t 9 "Illegal buffer
// length or offset.", raised before anything is read. DoFinal without input passes null and 0.
inline void CheckBufferArgs(const QmSecCoreTrc::Area& area, const char* in, int length,
                            const QmXplArray::CharArray_t& out, int outOffset) {
    if (length < 0 || (length > 0 && !in) || outOffset < 0 || outOffset > out.GetSize()) {
        QMSEC_THROW_MSG(area, QmXplMsg::IllegalArgumentError_t, 9, );
    }
}

// The Update/DoFinal family's input range check: IllegalArgumentError_t 12 "Illegal input buffer
// length or offset.".
inline void CheckInputRange(const QmSecCoreTrc::Area& area, const QmXplArray::CharArray_t& in,
                            int offset, int length) {
    if (offset < 0 || length < 0 || offset > in.GetSize() || length > in.GetSize() - offset) {
        QMSEC_THROW_MSG(area, QmXplMsg::IllegalArgumentError_t, 12, );
    }
}

// room bytes of output at outOffset must end inside the largest int: IllegalArgumentError_t 9
// "Illegal buffer length or offset.". A call checks this before it touches its input.
inline void CheckOutputEnd(const QmSecCoreTrc::Area& area, long long outOffset, long long room) {
    if (outOffset + room > INT_MAX) QMSEC_THROW_MSG(area, QmXplMsg::IllegalArgumentError_t, 9, );
}

// Room for room bytes of output at outOffset (checked as CheckOutputEnd): out grows to hold them
// and never shrinks. Returns where the output goes.
inline unsigned char* OutputRoom(const QmSecCoreTrc::Area& area, QmXplArray::CharArray_t& out,
                                 long long outOffset, long long room) {
    CheckOutputEnd(area, outOffset, room);
    if (outOffset + room > out.GetSize()) out.Resize(static_cast<int>(outOffset + room));
    return reinterpret_cast<unsigned char*>(out.GetData()) + outOffset;
}

}  // namespace QmSecCore::detail
