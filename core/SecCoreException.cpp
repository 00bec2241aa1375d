#include "QmSecCore/SecCoreException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, SecCoreException, QmXplMsg::RuntimeException_t)
