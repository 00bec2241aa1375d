#include "PolicyHeaderXmlHandler.h"

#include "QmSecAuth/AuthorizationPolicyException.h"
#include "Throw.h"

namespace QmSecAuth {

using QmSecCoreTrc::kAuthArea;
using QmXplStr::String_t;

namespace {

constexpr uint32_t kMask = 0x19;

bool Is(const String_t& name, const char* expected) {
    return name.CaseCompare(String_t(expected)) == 0;
}

}  // namespace

PolicyHeaderXmlHandler::PolicyHeaderXmlHandler() : text_("") {}
PolicyHeaderXmlHandler::~PolicyHeaderXmlHandler() = default;

void PolicyHeaderXmlHandler::StartDocument() {
    QMSEC_TRACE(kAuthArea.operation, kMask, "PolicyHeaderXmlHandler::StartDocument() called ...");
}

void PolicyHeaderXmlHandler::EndDocument() {
    QMSEC_TRACE(kAuthArea.operation, kMask, "PolicyHeaderXmlHandler::EndDocument() called ...");
    if (dataFileName_.IsEmpty()) QMSEC_THROW_MSG(kAuthArea, AuthorizationPolicyException, 66, );
    QMSEC_TRACE(kAuthArea.operation, kMask,
                "Successfully parsed policy header (policy name: '" << policyName_ << "').");
}

void PolicyHeaderXmlHandler::StartElement(const String_t&, const String_t& name, const String_t&,
                                          const QmXplXml::Attributes_i&) {
    text_ = String_t("");
    if (!inHeader_) {
        if (Is(name, "header")) inHeader_ = true;
        return;
    }
    if (inPolicy_) {
        if (inFiles_) {
            if (inData_) {
                if (Is(name, "file_name")) collectFileName_ = true;
                if (Is(name, "signature")) collectSignature_ = true;
            } else if (Is(name, "data")) {
                inData_ = true;
            }
        } else if (inIds_) {
            if (Is(name, "instance_id")) collectInstanceId_ = true;
        } else if (inCreator_) {
            if (Is(name, "name")) collectCreatorName_ = true;
        } else if (inCategories_) {
            if (Is(name, "category")) collectCategory_ = true;
        } else if (Is(name, "ids")) {
            inIds_ = true;
        } else if (Is(name, "creator")) {
            inCreator_ = true;
        } else if (Is(name, "categories")) {
            inCategories_ = true;
        } else if (Is(name, "files")) {
            inFiles_ = true;
        } else if (Is(name, "name")) {
            collectName_ = true;
        } else if (Is(name, "status")) {
            collectStatus_ = true;
        }
        return;
    }
    if (inPolicyType_) {
        if (Is(name, "name")) collectPolicyTypeName_ = true;
        return;
    }
    if (inCertificate_) return;  // everything inside a certificate is accepted and ignored
    if (Is(name, "policy")) {
        inPolicy_ = true;
    } else if (Is(name, "policytype")) {
        inPolicyType_ = true;
    } else if (Is(name, "certificate")) {
        inCertificate_ = true;
    }
}

void PolicyHeaderXmlHandler::EndElement(const String_t&, const String_t& name, const String_t&) {
    if (Is(name, "header")) {
        inHeader_ = false;
        return;
    }
    if (!inHeader_) return;
    if (Is(name, "policy")) inPolicy_ = false;
    if (Is(name, "policytype")) inPolicyType_ = false;
    if (Is(name, "certificate")) inCertificate_ = false;
    collectPolicyTypeName_ = false;
    if (!inPolicy_) return;

    if (collectName_) policyName_ = text_;
    if (collectStatus_) enabled_ = !Is(text_, "disabled");
    if (inFiles_ && inData_ && collectFileName_) dataFileName_ = text_;  // a later one wins
    collectName_ = collectStatus_ = collectInstanceId_ = collectCreatorName_ = false;
    collectCategory_ = collectFileName_ = collectSignature_ = false;

    if (Is(name, "ids")) inIds_ = false;
    if (Is(name, "creator")) inCreator_ = false;
    if (Is(name, "categories")) inCategories_ = false;
    if (inFiles_) {
        if (Is(name, "data")) inData_ = false;
        if (Is(name, "files")) inFiles_ = inData_ = false;
    }
}

void PolicyHeaderXmlHandler::Characters(const char16_t* chars, int start, int length) {
    if (chars && length > 0) text_.Append(chars + start, length);
}

}  // namespace QmSecAuth
