#include "QmSecCore/EntryNotFoundException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, EntryNotFoundException, SecCoreException)
