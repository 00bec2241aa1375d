#include "QmSecCore/MessageSignatureException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, MessageSignatureException, SecCoreException)
