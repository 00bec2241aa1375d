// Everything of namespace QmSecIo.
#pragma once

#include "QmSecIo/Base64InputStream.h"
#include "QmSecIo/Base64OutputStream.h"
#include "QmSecIo/CipherInputStream.h"
#include "QmSecIo/CipherOutputStream.h"
#include "QmSecIo/DigestInputStream.h"
#include "QmSecIo/DigestOutputStream.h"
#include "QmSecIo/SignatureInputStream.h"
#include "QmSecIo/SignatureOutputStream.h"
#include "QmSecIo/XORBufferedInputStream.h"
#include "QmSecIo/XORBufferedOutputStream.h"
#include "QmSecIo/XORInputStream.h"
#include "QmSecIo/XOROutputStream.h"
