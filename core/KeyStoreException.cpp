#include "QmSecCore/KeyStoreException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, KeyStoreException, SecCoreException)
