// The catalog "sec.core" against an independent copy of the table, and catalog messages.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "CatalogTable.h"
#include "QmSecCore/Catalog.h"

namespace {

// Independent copy: number, kind letter (W warning, E error, P plain) and text, one per line.
const char* const kExpected = R"(0 W XORBufferedInputStream is already closed.
0 W XORBufferedOutputStream is already closed.
1 E Could not open policy header '%1'.
2 E Could not parse policy header '%1'. Error in line %2 at column %3 (System Id: '%4', Public Id: '%5').
3 E Failure while parsing policy header '%1'.
4 E Could not read policy data file '%1' (as defined in policy header file '%2'). No such file.
5 E Could not read policy data file '%1'. Failed to open file.
6 E Could not read policy data file '%1'. Syntax error in line %2 near '%3' (error code: %4).
7 E Could not read policy data file '%1'. Unexpected error.
8 E Unexpected exception while reading authorization policies.
9 W Illegal buffer length or offset.
10 W Error during Base64 decoding operation (%1).
11 W Buffer overrun. OutputLen %1 exceeds buffer size %2.
12 W Illegal input buffer length or offset.
13 W Error during decoding.
14 W Base64InputStream is already closed.
15 W Base64OutputStream is already closed.
16 W CipherInputStream is already closed.
17 W CipherOutputStream is already closed.
18 W DigestInputStream is already closed.
19 W DigestOutputStream is already closed.
20 W Can not generate a key from a password for the given algorithm.
21 W Could not read file '%1'.
22 W Could not create directory '%1'.
24 W Could not write to file '%1'.
25 W No certificate for alias '%1' is installed.
26 W Certificate could not be restored from file '%1'.
27 W No private key for alias '%1' is installed.
28 W Could not open file '%1'.
29 W Private key can not be decrypted. Node specific key could not be read.
30 W Could not restore private key from file.
31 W A certificate with alias '%1' is already installed.
32 W Error when trying to write to file '%1'.
33 W A private key with alias '%1' is already installed.
34 W Failed to create memory buffer.
35 W Could not write to memory buffer (%1).
36 W Could not remove file '%1'.
37 W Could not delete file '%1'.
38 W Index file is corrupt.
39 W Error while reading file '%1'.
40 W Illegal input length.
41 W Unsupported algorithm.
42 W Illegal input length or offset.
43 W A symmetric algorithm was expected.
44 W Exceeded maximum seal header size. RSA key is too large.
45 W Could not parse encoded message signature.
46 W This message signature does not contain a certificate.
47 W Could not write encoded message signature.
48 W Could not create message signer. No QmCoreId is set on this system.
49 W Signer CN must not be empty.
50 W Could not create message signer. No private key for signer '%1' found in keystore.
51 W Could not create message signer.
52 W Could not update data.
53 W No certificate for signer '%1' found in keystore.
54 W Could not sign data.
55 W Wrong key type. Expected RSA private key.
56 W Unexpected end of input data.
57 W Malformed input data.
58 W Provided signer certificate is not valid.
59 W Issuer certificate with common name '%1' in keystore is not valid.
60 W Signer certificate could not be verified with issuer certificate having common name '%1' in keystore.
61 W Signer certificate is not trusted.
62 W Signer and issuer of signer certificate are not trusted.
63 W Signer certificate in keystore is not valid.
64 W Certificate of issuer of signer certificate in keystore is not valid.
65 W No certificate for signer provided in message signature or found in keystore.
66 W Invalid policy header. Missing name of policy data file.
67 W Key type not recognized.
68 W Could not create key from provided data (%1).
69 W Wrong key type, should be an RSA key.
70 W Could not write key to memory buffer (%1).
71 W Key does not match the algorithm.
72 W Error during decryption operation (%1).
73 W Illegal offset.
74 W Key is not long enough for selected algorithm. Expected length is %1.
75 W Error during Cipher operation (%1).
76 W Could not decrypt data. Incorrect padding.
77 W Unknown algorithm type.
78 W Signature class has not been initialized.
79 W Invalid key type. An RSA private key was expected.
80 W Invalid key type. An RSA public key was expected.
81 W Signature class is not in verify mode.
82 W Error during verification operation (%1).
83 W Signature class is not in sign mode.
84 W Error during sign operation (%1).
85 W SignatureInputStream is already closed.
86 W SignatureOutputStream is already closed.
87 P INFO:
88 P NOTE:
89 P WARNING:
90 P ERROR:
91 W Could not parse encoded X509 Certificate (%1).
92 W Could not write X509 certificate to memory buffer (%1).
93 W Could not get public key from certificate (%1).
94 W Type of key should be eRSAPulicKey.
95 W Time format not recognized (%1).
96 W Could not get Issuer DN from certificate (%1).
97 W Could not get Subject DN from certificate (%1).
98 W Conversion of serial number failed (%1).
99 W Password too long. Only %1 characters are supported.
100 W XORInputStream is already closed.
101 W XOROutputStream is already closed.
102 W Certificate Filename and Private Key Filename cannot be empty.
103 W '%1' is not a recognized encryption level.
104 W '%1' is not a recognized client verification mode.
105 W SSL error while creating SSL session (%1).
106 W Could not get certificate for alias '%1'.
107 W Could not get private key for alias '%1'.
108 W Error while configuring SSL to use certificate with alias '%1' (%2).
109 W Error while configuring SSL to use private key with alias '%1' (%2).
110 W Error while configuring SSL to use certificate from file '%1' (%2).
111 W Error while configuring SSL to use private key from file '%1' (%2).
112 W Error while creating SSL session (%1).
113 W SSL certificate verification error (%1).
114 W SSL connection error (%1).
115 W SslOp with wrong eOp.
116 W An SSL connection IO error has occurred. This may be due to a network problem or an SSL handshake error. Possible causes for SSL handshake errors are that no certificate is installed, an invalid certificate is installed, or the peer does not trust the initiator's certificate.
117 W SSL connection error. Could not write data.
118 W SSL connection error during shutdown (%1).
140 W SSL connection output stream is already closed.
141 W SSL connection error. Send operation failed.
142 W SSL connection error. IO error during flushing data.
143 W SSL connection input stream is already closed.
144 W SSL connection error. Receive operation failed.
145 W Out of memory.
147 W File '%1' contains no usable certificate.
148 W SSL error while setting trusted certificates (%1).
150 W SSL Socket input stream is already closed.
151 W SSL socket error. Receive operation failed.
152 W SSL Socket output stream is already closed.
153 W SSL socket error. Send operation failed.
154 W SSL socket error. IO error during flushing.
155 W SSL connection error. No peer certificate.
156 W SSL connection error. Certificate verification error.
157 W SSL connection error. Wrong SSL option.
158 W SSL socket IO error.
159 W CA File contained no usable certificate.
160 W SSL configuration error (%1). Used certificate filename was '%2'.
161 W Wrong ClientVerification Mode Parameter.
174 W Could not change file access permissions for directory '%1'.
175 W Alias '%1' is not valid for a key store entry.
176 W Password must not be empty.
177 E Policy data file '%1' (as defined in policy header file '%2') does not lie in the policy directory.
178 W The directory '%1' may be changed by others than its owner, so it is not used.
)";

using QmSecCore::detail::CatalogEntries;
using QmSecCore::detail::CatalogKind;
using QmSecCore::detail::CatalogMessage;
using QmXplStr::String_t;

char KindLetter(CatalogKind kind) {
    return kind == CatalogKind::kWarning ? 'W' : kind == CatalogKind::kError ? 'E' : 'P';
}

TEST(CatalogTest, TableMatchesTheIndependentCopyEntryByEntry) {
    std::istringstream expected(kExpected);
    std::string line;
    size_t i = 0;
    auto entries = CatalogEntries();
    while (std::getline(expected, line)) {
        ASSERT_LT(i, entries.size()) << "missing entry for line: " << line;
        std::ostringstream actual;
        actual << entries[i].number << ' ' << KindLetter(entries[i].kind) << ' ' << entries[i].text;
        EXPECT_EQ(actual.str(), line);
        ++i;
    }
    EXPECT_EQ(i, entries.size()) << "the table has entries the copy does not";
}

TEST(CatalogTest, UnassignedNumbersStayUnassigned) {
    std::set<int> numbers;
    for (const auto& e : CatalogEntries()) numbers.insert(e.number);
    std::vector<int> unassigned = {23, 146, 149};
    for (int n = 119; n <= 139; ++n) unassigned.push_back(n);
    for (int n = 162; n <= 173; ++n) unassigned.push_back(n);
    for (int n : unassigned) EXPECT_EQ(numbers.count(n), 0u) << n;
}

TEST(CatalogTest, MessagesCarryNumberSeverityAndInsertsInOrder) {
    QmXplMsg::Message_t m = CatalogMessage(60) << "ca.example";
    EXPECT_EQ(m.GetNumber(), 60);
    EXPECT_EQ(m.GetCatalogName(), String_t("sec.core"));
    EXPECT_EQ(m.GetSeverity(), QmXplMsg::Severity_t::eWarning);
    EXPECT_EQ(m.GetText(),
              String_t("Signer certificate could not be verified with issuer certificate having "
                       "common name 'ca.example' in keystore."));
    QmXplMsg::Message_t two = CatalogMessage(11) << 70 << 64;
    EXPECT_EQ(two.GetText(), String_t("Buffer overrun. OutputLen 70 exceeds buffer size 64."));
    EXPECT_EQ(CatalogMessage(6).GetSeverity(), QmXplMsg::Severity_t::eError);
    EXPECT_EQ(CatalogMessage(89).GetSeverity(), QmXplMsg::Severity_t::eNone);
    // An insert that itself holds a placeholder is not expanded again.
    EXPECT_EQ((CatalogMessage(21) << "%1").GetText(), String_t("Could not read file '%1'."));
    EXPECT_EQ(CatalogMessage(0, "XORBufferedOutputStream is already closed.").GetText(),
              String_t("XORBufferedOutputStream is already closed."));
}

}  // namespace
