// Everything of namespace QmSecCore and the tracing classes.
#pragma once

#include "QmSecCore/AlreadyInstalledException.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/Catalog.h"
#include "QmSecCore/CertificateParsingException.h"
#include "QmSecCore/EntryNotFoundException.h"
#include "QmSecCore/InvalidKeyException.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmSecCore/Object.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/SecCoreException.h"
#include "QmSecCore/SignatureException.h"
#include "QmSecCore/Utils.h"
#include "QmSecCore/Version.h"
#include "QmSecCoreTrc/TraceText.h"
#include "QmSecCoreTrc/Tracer.h"
