// Reads the three values the authorizer needs from a policy header while it is parsed.
#pragma once

#include "QmXpl/DefaultHandler_t.h"
#include "QmXpl/String_t.h"

namespace QmSecAuth {

// SAX content handler for one policy header: keeps the policy name, whether the policy is
// enabled, and the name of its data file. Element names are matched without regard to letter
// case and only where they belong (header / policy / files / data / file_name and so on);
// anything else, and attributes, are ignored without failing the parse. One handler per file.
class PolicyHeaderXmlHandler : public QmXplXml::DefaultHandler_t {
  public:
    PolicyHeaderXmlHandler();
    ~PolicyHeaderXmlHandler() override;

    void StartDocument() override;
    // Throws AuthorizationPolicyException 66 when no data file name was found.
    void EndDocument() override;
    void StartElement(const QmXplStr::String_t& uri, const QmXplStr::String_t& localName,
                      const QmXplStr::String_t& qName,
                      const QmXplXml::Attributes_i& attributes) override;
    void EndElement(const QmXplStr::String_t& uri, const QmXplStr::String_t& localName,
                    const QmXplStr::String_t& qName) override;
    void Characters(const char16_t* chars, int start, int length) override;

    const QmXplStr::String_t& GetPolicyName() const noexcept { return policyName_; }
    // True unless the status text is "disabled" in any letter case; true without a status.
    bool IsEnabled() const noexcept { return enabled_; }
    // Relative to the policy directory; empty until a file_name element was read.
    const QmXplStr::String_t& GetDataFileName() const noexcept { return dataFileName_; }

  private:
    QmXplStr::String_t policyName_;
    bool enabled_ = true;
    QmXplStr::String_t dataFileName_;
    QmXplStr::String_t text_;  // characters since the last element start

    // Where the parse is.
    bool inHeader_ = false, inPolicy_ = false, inIds_ = false, inCreator_ = false;
    bool inCategories_ = false, inFiles_ = false, inData_ = false, inPolicyType_ = false;
    bool inCertificate_ = false;
    // Which value the current text belongs to.
    bool collectName_ = false, collectStatus_ = false, collectInstanceId_ = false;
    bool collectCreatorName_ = false, collectCategory_ = false, collectFileName_ = false;
    bool collectSignature_ = false, collectPolicyTypeName_ = false;
};

}  // namespace QmSecAuth
