// Everything of namespace QmSecSsl.
#pragma once

#include "QmSecSsl/SecSslException.h"
#include "QmSecSsl/SecSslIOException.h"
#include "QmSecSsl/SslClientConnection.h"
#include "QmSecSsl/SslConnection.h"
#include "QmSecSsl/SslConnectionInputStream.h"
#include "QmSecSsl/SslConnectionOutputStream.h"
#include "QmSecSsl/SslNames.h"
#include "QmSecSsl/SslServerConnection.h"
#include "QmSecSsl/SslSocket.h"
#include "QmSecSsl/SslSocketConfig.h"
#include "QmSecSsl/SslSocketDefaultConfig.h"
