#include "QmSecCore/AlreadyInstalledException.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/CertificateParsingException.h"
#include "QmSecCore/EntryNotFoundException.h"
#include "QmSecCore/InvalidKeyException.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmSecCore/MessageSignatureException.h"
#include "QmSecCore/SecCoreException.h"
#include "QmSecCore/SignatureException.h"

// Out-of-line constructors and destructors give every exception class one home for its vtable
// and type information, so a throw in the library is caught by type in any program.
#define QMSEC_DEFINE_EXCEPTION(Namespace, Class, Base)                             \
    Namespace::Class::Class(const QmXplMsg::Message_t& message) : Base(message) {} \
    Namespace::Class::~Class() = default;

QMSEC_DEFINE_EXCEPTION(QmSecCore, SecCoreException, QmXplMsg::RuntimeException_t)
QMSEC_DEFINE_EXCEPTION(QmSecCore, BadPaddingException, SecCoreException)
QMSEC_DEFINE_EXCEPTION(QmSecCore, CertificateParsingException, SecCoreException)
QMSEC_DEFINE_EXCEPTION(QmSecCore, SignatureException, SecCoreException)
QMSEC_DEFINE_EXCEPTION(QmSecCore, MessageSignatureException, SecCoreException)
QMSEC_DEFINE_EXCEPTION(QmSecCore, InvalidKeyException, SecCoreException)
QMSEC_DEFINE_EXCEPTION(QmSecCore, AlreadyInstalledException, SecCoreException)
QMSEC_DEFINE_EXCEPTION(QmSecCore, EntryNotFoundException, SecCoreException)
QMSEC_DEFINE_EXCEPTION(QmSecCore, KeyStoreException, SecCoreException)
