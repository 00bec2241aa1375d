#include "QmSecCore/AlreadyInstalledException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, AlreadyInstalledException, SecCoreException)
