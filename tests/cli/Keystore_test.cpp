// keystore genkey, install, list, export and remove on a node's real key store.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CliRunner.h"
#include "cli/MiniJson.h"
#include "support/Certificates.h"
#include "support/Command.h"

namespace qmsec_cli {
namespace {

using qmsec_test::Quote;
using qmsec_test::RunCommand;

// An initialised node.
class StoreNode : public Node {
  public:
    StoreNode() {
        Result r = (*this)({"init", "--core-id", "node-1"});
        EXPECT_EQ(r.status, 0) << r;
    }
    Result Ok(const std::vector<std::string>& args) const {
        Result r = (*this)(args);
        EXPECT_EQ(r.status, 0) << r;
        return r;
    }
    std::string StoreDir() const { return Home() + "/data/sec/ks"; }
};

std::map<std::string, Json> ListByAlias(const StoreNode& node) {
    Result r = node.Ok({"--json", "keystore", "list"});
    Json list = Json::Parse(r.out);
    std::map<std::string, Json> byAlias;
    for (size_t i = 0; i < list.Size(); ++i) byAlias[list[i]["alias"].Str()] = list[i];
    return byAlias;
}

std::string Kinds(const Json& entry) {
    std::string kinds;
    for (size_t i = 0; i < entry["entries"].Size(); ++i)
        kinds += (i ? "," : "") + entry["entries"][i].Str();
    return kinds;
}

TEST(CliKeystore, GenkeyMakesACaAndAnIssuedCertificateOpenSslVerifies) {
    StoreNode node;
    Result ca = node.Ok(
        {"--json", "keystore", "genkey", "ca", "--cn", "Demo CA", "--trusted", "--days", "3650"});
    Json caJson = Json::Parse(ca.out);
    EXPECT_EQ(caJson["subject_cn"].Str(), "Demo CA");
    EXPECT_TRUE(caJson["self_signed"].Bool());
    EXPECT_TRUE(caJson["trusted"].Bool());
    Result leaf = node.Ok({"keystore", "genkey", "node-1", "--issuer", "ca", "--days", "30"});
    EXPECT_NE(leaf.out.find("certificate issued by 'ca', installed as 'node-1'"), std::string::npos)
        << leaf;

    auto entries = ListByAlias(node);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Kinds(entries["ca"]), "trusted_certificate,private_key");
    EXPECT_EQ(Kinds(entries["node-1"]), "certificate,private_key");
    EXPECT_EQ(entries["node-1"]["certificate"]["subject_cn"].Str(), "node-1");
    EXPECT_EQ(entries["node-1"]["certificate"]["issuer_cn"].Str(), "Demo CA");
    EXPECT_TRUE(entries["node-1"]["certificate"]["valid_now"].Bool());

    node.Ok({"keystore", "export", "ca", "-o", node.File("ca.pem")});
    Result leafPem = node.Ok({"keystore", "export", "node-1"});
    node.Write("node.pem", leafPem.out);
    auto verify = RunCommand("openssl verify -CAfile " + Quote(node.File("ca.pem")) + " " +
                             Quote(node.File("node.pem")));
    EXPECT_EQ(verify.status, 0) << verify.output;
    auto text = RunCommand("openssl x509 -noout -text -in " + Quote(node.File("node.pem")));
    EXPECT_NE(text.output.find("CA:FALSE"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("Public-Key: (2048 bit)"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("sha256WithRSAEncryption"), std::string::npos) << text.output;
    auto caText = RunCommand("openssl x509 -noout -text -in " + Quote(node.File("ca.pem")));
    EXPECT_NE(caText.output.find("CA:TRUE"), std::string::npos) << caText.output;
    auto fp =
        RunCommand("openssl x509 -noout -fingerprint -sha1 -in " + Quote(node.File("node.pem")));
    EXPECT_NE(fp.output.find(entries["node-1"]["certificate"]["fingerprint"].Str()),
              std::string::npos);

    // The private keys are stored encrypted, in files only the owner may read.
    for (const auto& entry : std::filesystem::directory_iterator(node.StoreDir())) {
        std::string content = qmsec_test::ReadFile(entry.path().string());
        EXPECT_EQ(content.find("PRIVATE KEY"), std::string::npos) << entry.path();
        struct stat st {};
        ASSERT_EQ(stat(entry.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u) << entry.path();
    }
}

TEST(CliKeystore, GenkeyRefusesBadIssuersAndExistingAliases) {
    StoreNode node;
    Result noIssuer = node({"keystore", "genkey", "x", "--issuer", "nobody"});
    EXPECT_EQ(noIssuer.status, 1) << noIssuer;
    EXPECT_NE(noIssuer.err.find("no certificate and private key 'nobody'"), std::string::npos)
        << noIssuer;
    node.Ok({"keystore", "genkey", "ca", "--bits", "1024"});
    node.Ok({"keystore", "remove", "ca", "--key"});
    Result keyless = node({"keystore", "genkey", "x", "--issuer", "ca"});
    EXPECT_EQ(keyless.status, 1) << keyless;
    Result again = node({"keystore", "genkey", "ca", "--bits", "1024"});
    EXPECT_EQ(again.status, 1) << again;
    EXPECT_NE(again.err.find("has an entry 'ca' already; give --replace"), std::string::npos)
        << again;
    Result replaced = node({"--json", "keystore", "genkey", "ca", "--bits", "1024", "--replace"});
    EXPECT_EQ(replaced.status, 0) << replaced;
    EXPECT_EQ(Kinds(ListByAlias(node)["ca"]), "certificate,private_key");

    for (auto args : std::vector<std::vector<std::string>>{
             {"keystore", "genkey", "x", "--days", "0"},
             {"keystore", "genkey", "x", "--bits", "512"},
             {"keystore", "genkey", "a/b"},
             {"keystore", "genkey", "a\\b"},
             {"keystore", "genkey", "x", "--cn", ""},
         }) {
        Result r = node(args);
        EXPECT_EQ(r.status, 2) << r;
    }
    EXPECT_EQ(ListByAlias(node).size(), 1u);
}

TEST(CliKeystore, InstallsOutsideCertificatesWithMatchingKeysOnly) {
    StoreNode node;
    using qmsec_test::CertificateBuilder;
    qmsec_test::TestCertificate ca = CertificateBuilder().CommonName("Outside CA").Ca().Build();
    qmsec_test::TestCertificate leaf = CertificateBuilder()
                                           .CommonName("peer")
                                           .IssuedBy(ca)
                                           .SubjectKey(qmsec_test::TestRsaKey(2048, 1).privatePem)
                                           .Build();
    std::string caFile = node.Write("ca.pem", ca.pem);
    std::string leafFile = node.Write("leaf.pem", leaf.pem);
    std::string leafKey = node.Write("leaf.key", leaf.privateKeyPem);
    std::string otherKey = node.Write("other.key", qmsec_test::TestRsaKey(2048, 2).privatePem);

    Result mismatch = node({"keystore", "install", "peer", "--cert", leafFile, "--key", otherKey});
    EXPECT_EQ(mismatch.status, 1) << mismatch;
    EXPECT_NE(mismatch.err.find("does not belong to the certificate"), std::string::npos)
        << mismatch;
    EXPECT_EQ(ListByAlias(node).size(), 0u);

    Result trusted =
        node.Ok({"--json", "keystore", "install", "Outside CA", "--cert", caFile, "--trusted"});
    EXPECT_TRUE(Json::Parse(trusted.out)["trusted"].Bool());
    Result withKey = node.Ok({"keystore", "install", "peer", "--cert", leafFile, "--key", leafKey});
    EXPECT_NE(withKey.out.find("Installed certificate and private key as 'peer'"),
              std::string::npos)
        << withKey;
    auto entries = ListByAlias(node);
    EXPECT_EQ(Kinds(entries["Outside CA"]), "trusted_certificate");
    EXPECT_EQ(Kinds(entries["peer"]), "certificate,private_key");
    EXPECT_EQ(node.Ok({"keystore", "export", "peer"}).out, leaf.pem);

    Result twice = node({"keystore", "install", "peer", "--cert", leafFile});
    EXPECT_EQ(twice.status, 1) << twice;
    // Replacing the certificate alone keeps the key; the entry becomes trusted.
    node.Ok({"keystore", "install", "peer", "--cert", leafFile, "--trusted", "--replace"});
    EXPECT_EQ(Kinds(ListByAlias(node)["peer"]), "trusted_certificate,private_key");

    Result noCert = node({"keystore", "install", "x"});
    EXPECT_EQ(noCert.status, 2) << noCert;
    Result notPem = node({"keystore", "install", "x", "--cert", leafKey});
    EXPECT_EQ(notPem.status, 1) << notPem;
    EXPECT_NE(notPem.err.find("[sec.core 91]"), std::string::npos) << notPem;
    Result keyNotKey = node({"keystore", "install", "x", "--cert", leafFile, "--key", leafFile});
    EXPECT_EQ(keyNotKey.status, 1) << keyNotKey;
    EXPECT_NE(keyNotKey.err.find("[sec.core 68]"), std::string::npos) << keyNotKey;
    EXPECT_EQ(ListByAlias(node).count("x"), 0u);
}

TEST(CliKeystore, RemoveTakesWhatIsNamedAndRefusesWhatIsNotThere) {
    StoreNode node;
    node.Ok({"keystore", "genkey", "a", "--bits", "1024"});
    node.Ok({"keystore", "genkey", "b", "--bits", "1024"});
    Result certOnly = node.Ok({"--json", "keystore", "remove", "a", "--cert"});
    Json j = Json::Parse(certOnly.out);
    EXPECT_TRUE(j["certificate_removed"].Bool());
    EXPECT_FALSE(j["private_key_removed"].Bool());
    // The key without its certificate is still listed.
    auto entries = ListByAlias(node);
    EXPECT_EQ(Kinds(entries["a"]), "private_key");
    EXPECT_TRUE(entries["a"]["certificate"].IsNull());
    Result list = node.Ok({"keystore", "list"});
    EXPECT_NE(list.out.find("a: private key (without certificate)"), std::string::npos) << list;
    EXPECT_NE(list.out.find("2 entries"), std::string::npos) << list;

    Result noCert = node({"keystore", "remove", "a", "--cert"});
    EXPECT_EQ(noCert.status, 1) << noCert;
    node.Ok({"keystore", "remove", "a"});
    Result gone = node({"keystore", "remove", "a"});
    EXPECT_EQ(gone.status, 1) << gone;
    EXPECT_NE(gone.err.find("has no entry 'a'"), std::string::npos) << gone;
    Result both = node({"keystore", "remove", "b", "--cert", "--key"});
    EXPECT_EQ(both.status, 2) << both;
    node.Ok({"keystore", "remove", "b"});
    Result empty = node.Ok({"keystore", "list"});
    EXPECT_EQ(empty.out, "0 entries\n");
    Result exportGone = node({"keystore", "export", "b"});
    EXPECT_EQ(exportGone.status, 1) << exportGone;
    EXPECT_NE(exportGone.err.find("[sec.core 25] No certificate for alias 'b' is installed."),
              std::string::npos)
        << exportGone;
    // Files that an install killed half way left: not listed, but removed with their alias.
    node.Write("node/data/sec/ks/c_cert.pem", "left\n");
    node.Write("node/data/sec/ks/c_key.dat", "left\n");
    EXPECT_EQ(node.Ok({"keystore", "list"}).out, "0 entries\n");
    Result left = node.Ok({"keystore", "remove", "c"});
    EXPECT_NE(left.out.find("Removed the files that an unfinished install left for 'c'"),
              std::string::npos)
        << left;
    EXPECT_FALSE(std::filesystem::exists(node.StoreDir() + "/c_cert.pem"));
    EXPECT_FALSE(std::filesystem::exists(node.StoreDir() + "/c_key.dat"));
    EXPECT_EQ(node({"keystore", "remove", "c"}).status, 1);
}

TEST(CliKeystore, ADamagedEntryIsShownAndFailsTheListing) {
    StoreNode node;
    node.Ok({"keystore", "genkey", "good", "--bits", "1024"});
    node.Ok({"keystore", "genkey", "bad", "--bits", "1024"});
    node.Write("node/data/sec/ks/bad_cert.pem", "not a certificate any more\n");
    Result r = node({"--json", "keystore", "list"});
    EXPECT_EQ(r.status, 1) << r;
    Json list = Json::Parse(r.out);
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_EQ(list[0]["alias"].Str(), "bad");
    EXPECT_TRUE(list[0]["certificate"].IsNull());
    EXPECT_NE(list[0]["problem"].Str().find("[sec.core 26]"), std::string::npos);
    EXPECT_EQ(list[1]["certificate"]["subject_cn"].Str(), "good");
    EXPECT_NE(r.err.find("[sec.core 26]"), std::string::npos) << r;
}

TEST(CliKeystore, PrivateKeysNeedTheKeyProvidersSecret) {
    StoreNode node;
    node.Ok({"keystore", "genkey", "ca", "--bits", "1024"});
    std::string secret = node.Home() + "/conf/sec/provider.key";
    std::string saved = qmsec_test::ReadFile(secret);
    ASSERT_EQ(std::remove(secret.c_str()), 0);
    // Opening the store reads its node-specific key, which needs the secret.
    Result r = node({"keystore", "list"});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_NE(r.err.find("Could not open the key store '" + node.StoreDir() + "'."),
              std::string::npos)
        << r;
    EXPECT_NE(r.err.find("Run 'qmsec init' to create it."), std::string::npos) << r;
    // A new secret could not read what the old one protected: init makes none for this store.
    Result init = node({"init"});
    EXPECT_EQ(init.status, 1) << init;
    EXPECT_NE(init.err.find("restore the secret from a backup"), std::string::npos) << init;
    EXPECT_FALSE(std::filesystem::exists(secret));
    // Another secret (another node's) is reported as one that does not open the node key, by
    // init and by every command that opens the store; not as a padding error.
    node.Write("node/conf/sec/provider.key", std::string(32, 'x'));
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"init"},
          {"keystore", "genkey", "leaf", "--issuer", "ca", "--bits", "1024"}}) {
        Result other = node(args);
        EXPECT_EQ(other.status, 1) << other;
        EXPECT_NE(other.err.find("[sec.core 183] Node specific key file '" + node.StoreDir() +
                                 "/nsk.dat' cannot be decrypted"),
                  std::string::npos)
            << other;
        EXPECT_EQ(other.err.find("Incorrect padding"), std::string::npos) << other;
        if (args[0] == "init") {
            EXPECT_NE(other.err.find("does not open the key store's node key"), std::string::npos);
        }
    }
    // The old secret back, and all is well.
    ASSERT_EQ(std::remove(secret.c_str()), 0);
    node.Write("node/conf/sec/provider.key", saved);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    node.Ok({"keystore", "genkey", "leaf", "--issuer", "ca", "--bits", "1024"});
    EXPECT_EQ(ListByAlias(node).count("leaf"), 1u);
}

}  // namespace
}  // namespace qmsec_cli
