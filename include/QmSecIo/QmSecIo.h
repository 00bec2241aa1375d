// Everything of namespace QmSecIo.
#pragma once

#include "QmSecIo/DigestInputStream.h"
#include "QmSecIo/DigestOutputStream.h"
#include "QmSecIo/SignatureInputStream.h"
#include "QmSecIo/SignatureOutputStream.h"
#include "QmSecIo/XORBufferedInputStream.h"
#include "QmSecIo/XORBufferedOutputStream.h"
#include "QmSecIo/XORInputStream.h"
#include "QmSecIo/XOROutputStream.h"
