// Everything of namespace QmSecIo.
#pragma once

#include "QmSecIo/XORBufferedInputStream.h"
#include "QmSecIo/XORBufferedOutputStream.h"
#include "QmSecIo/XORInputStream.h"
#include "QmSecIo/XOROutputStream.h"
