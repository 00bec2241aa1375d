// The policy header handler: the three kept values, the position rules, letter case, and the
// missing-file-name failure.
#include <gtest/gtest.h>

#include "PolicyHeaderXmlHandler.h"
#include "QmSecAuth/AuthorizationPolicyException.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/SAXParseException_t.h"
#include "QmXpl/SAXParser_t.h"
#include "support/TraceCapture.h"

namespace {

using QmSecAuth::PolicyHeaderXmlHandler;
using QmXplStr::String_t;

void Parse(const std::string& xml, PolicyHeaderXmlHandler& handler) {
    QmXplXml::SAXParser_t parser;
    parser.SetContentHandler(&handler);
    QmXplArray::CharArray_t bytes(xml.data(), static_cast<int>(xml.size()));
    parser.Parse(QmXplIo::CharArrayInputStream_t(bytes));
}

const char* kFull = R"(<?xml version="1.0" encoding="UTF-8"?>
<header>
  <policytype><name>mgrconf</name></policytype>
  <policy>
    <ids><instance_id>42</instance_id></ids>
    <name>Responsible managers</name>
    <status>enabled</status>
    <creator><name>admin</name></creator>
    <categories><category>ops</category></categories>
    <files>
      <data><file_name>respmgr.cfg</file_name><signature>abc</signature></data>
    </files>
  </policy>
  <certificate><anything><name>ignored</name></anything></certificate>
</header>)";

TEST(PolicyHeaderTest, KeepsNameStatusAndDataFileName) {
    PolicyHeaderXmlHandler h;
    Parse(kFull, h);
    EXPECT_EQ(h.GetPolicyName(), String_t("Responsible managers"));
    EXPECT_TRUE(h.IsEnabled());
    EXPECT_EQ(h.GetDataFileName(), String_t("respmgr.cfg"));
}

TEST(PolicyHeaderTest, DisabledInAnyLetterCaseAndEnabledWithoutStatus) {
    for (const char* status : {"disabled", "DISABLED", "DisAbled"}) {
        PolicyHeaderXmlHandler h;
        Parse(std::string("<header><policy><status>") + status +
                  "</status><files><data><file_name>f</file_name></data></files></policy></header>",
              h);
        EXPECT_FALSE(h.IsEnabled()) << status;
    }
    PolicyHeaderXmlHandler none;
    Parse("<header><policy><files><data><file_name>f</file_name></data></files></policy></header>",
          none);
    EXPECT_TRUE(none.IsEnabled());
    PolicyHeaderXmlHandler other;
    Parse(
        "<header><policy><status>off</status><files><data><file_name>f</file_name></data></files></"
        "policy></header>",
        other);
    EXPECT_TRUE(other.IsEnabled());
}

TEST(PolicyHeaderTest, ElementNamesMatchInAnyLetterCase) {
    PolicyHeaderXmlHandler h;
    Parse(
        "<HEADER><Policy><NAME>p</NAME><Files><DATA><FILE_NAME>up.cfg</FILE_NAME></DATA></Files></"
        "Policy></HEADER>",
        h);
    EXPECT_EQ(h.GetPolicyName(), String_t("p"));
    EXPECT_EQ(h.GetDataFileName(), String_t("up.cfg"));
}

TEST(PolicyHeaderTest, NamesInsideCreatorOrPolicyTypeDoNotChangeThePolicyName) {
    PolicyHeaderXmlHandler h;
    Parse(R"(<header><policytype><name>type</name></policytype><policy><name>real</name>
             <creator><name>creator</name></creator><files><data><file_name>f</file_name></data></files>
             </policy></header>)",
          h);
    EXPECT_EQ(h.GetPolicyName(), String_t("real"));
}

TEST(PolicyHeaderTest, RootOtherThanHeaderFailsWithTheMissingFileNameMessage) {
    PolicyHeaderXmlHandler h;
    try {
        Parse("<policy><files><data><file_name>f</file_name></data></files></policy>", h);
        FAIL() << "no exception";
    } catch (const QmSecAuth::AuthorizationPolicyException& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 66);
        EXPECT_EQ(e.GetMessageList().Get(0).GetText(),
                  String_t("Invalid policy header. Missing name of policy data file."));
    }
    EXPECT_TRUE(h.GetDataFileName().IsEmpty());
}

TEST(PolicyHeaderTest, FileNameOutsideDataOrWrongPlaceIsIgnored) {
    PolicyHeaderXmlHandler h;
    EXPECT_THROW(
        Parse("<header><policy><files><file_name>f</file_name></files></policy></header>", h),
        QmSecAuth::AuthorizationPolicyException);
    PolicyHeaderXmlHandler g;
    EXPECT_THROW(Parse("<header><data><file_name>f</file_name></data></header>", g),
                 QmSecAuth::AuthorizationPolicyException);
}

TEST(PolicyHeaderTest, TheLastDataSectionWins) {
    PolicyHeaderXmlHandler h;
    Parse(R"(<header><policy><files>
               <data><file_name>first.cfg</file_name></data>
               <data><file_name>second.cfg</file_name></data>
             </files></policy></header>)",
          h);
    EXPECT_EQ(h.GetDataFileName(), String_t("second.cfg"));
}

TEST(PolicyHeaderTest, KeptValuesIncludeSurroundingBlanksAndLineBreaks) {
    PolicyHeaderXmlHandler h;
    Parse(
        "<header><policy><name>\n  spaced name \n</name><status> disabled</status>"
        "<files><data><file_name> f.cfg</file_name></data></files></policy></header>",
        h);
    EXPECT_EQ(h.GetPolicyName(), String_t("\n  spaced name \n"));
    EXPECT_TRUE(h.IsEnabled());  // " disabled" is not "disabled"
    EXPECT_EQ(h.GetDataFileName(), String_t(" f.cfg"));
}

TEST(PolicyHeaderTest, UnknownElementsAndAttributesAreIgnored) {
    PolicyHeaderXmlHandler h;
    Parse(R"(<header version="2"><extra><policy><name>wrong</name></policy></extra>
             <policy id="1"><unknown>x</unknown><name lang="en">right</name>
             <files><data><file_name>d.cfg</file_name></data></files></policy></header>)",
          h);
    EXPECT_EQ(h.GetPolicyName(), String_t("right"));
    EXPECT_EQ(h.GetDataFileName(), String_t("d.cfg"));
}

TEST(PolicyHeaderTest, MalformedXmlIsAParseExceptionAndTracesOnSuccess) {
    PolicyHeaderXmlHandler h;
    EXPECT_THROW(Parse("<header><policy></header>", h), QmXplXml::SAXParseException_t);
    qmsec_test::TraceCapture capture("sec.core.auth=0x19");
    PolicyHeaderXmlHandler ok;
    Parse(kFull, ok);
    EXPECT_NE(capture.IndexOf("PolicyHeaderXmlHandler::StartDocument() called ..."), -1);
    EXPECT_NE(capture.IndexOf("PolicyHeaderXmlHandler::EndDocument() called ..."), -1);
    EXPECT_NE(
        capture.IndexOf("Successfully parsed policy header (policy name: 'Responsible managers')."),
        -1);
}

}  // namespace
