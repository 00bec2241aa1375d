#include "QmSecCore/BadPaddingException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, BadPaddingException, SecCoreException)
