// Everything of namespace QmSecSsl.
#pragma once

#include "QmSecSsl/SecSslException.h"
#include "QmSecSsl/SecSslIOException.h"
