#include "QmSecCore/InvalidKeyException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, InvalidKeyException, SecCoreException)
