#include "QmSecCore/CertificateParsingException.h"
#include "ExceptionDefinition.h"

QMSEC_DEFINE_EXCEPTION(QmSecCore, CertificateParsingException, SecCoreException)
