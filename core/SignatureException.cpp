#include "QmSecCore/SignatureException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, SignatureException, SecCoreException)
