// The key store with real files in a temporary node directory: a fresh store, installing,
// replacing and removing certificates and keys, what lands on disk and with which permissions,
// the node key, refused aliases, failures of the file system, traces, the empty handle
// and the exports of the shared library.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include "QmSecCore/AlreadyInstalledException.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/EntryNotFoundException.h"
#include "QmSecCore/InvalidKeyException.h"
#include "QmSecCore/KeyStoreException.h"
#include "QmSecCore/Signature.h"
#include "QmXpl/IOException_t.h"
#include "core/KeyStoreTestSupport.h"
#include "support/TraceCapture.h"

namespace {

using namespace keystore_test;
using qmsec_test::ThrownText;
using QmSecCore::AlreadyInstalledException;
using QmSecCore::EntryNotFoundException;
using QmSecCore::KeyStoreException;
using QmSecCore::KeyStoreImpl;
using QmXplMsg::IllegalArgumentError_t;
using QmXplMsg::IllegalStateError_t;

namespace fs = std::filesystem;

TEST(KeyStoreTest, FreshStoreWithoutDirectoryAnswersNothing) {
    StoreHome home;
    KeyStore ks;
    EXPECT_EQ(KeyStore::DirectoryOf().ToUtf8(), home.StoreDir());
    EXPECT_EQ(KeyStore::NodeKeyFileOf().ToUtf8(), home.File("nsk.dat"));
    EXPECT_FALSE(ks.IsCertEntry(String_t("a")));
    EXPECT_FALSE(ks.IsTrustedCertEntry(String_t("a")));
    EXPECT_FALSE(ks.IsPrivateKeyEntry(String_t("a")));
    StringCollection c;
    c.Add(String_t("kept"));
    EXPECT_EQ(Elements(ks.Aliases(c)), std::vector<std::string>{"kept"});
    X509Certificate cert;
    EXPECT_EQ(ThrownNumber<EntryNotFoundException>([&] { ks.GetCertificate(String_t("a"), cert); }),
              25);
    EXPECT_TRUE(cert.IsNull());
    Key key;
    EXPECT_EQ(ThrownNumber<EntryNotFoundException>([&] { ks.GetPrivateKey(String_t("a"), key); }),
              27);
    // Removing creates nothing either.
    ks.RemoveCertificate(String_t("a"));
    ks.RemovePrivateKey(String_t("a"));
    EXPECT_FALSE(fs::exists(home.Root() + "/data"));
}

TEST(KeyStoreTest, BaseDirectoryChoosesTheStoreBelowIt) {
    StoreHome home;
    qmsec_test::TempDir other;
    EXPECT_EQ(KeyStore::DirectoryOf(String_t(other.Path())).ToUtf8(),
              other.Path() + "/data/sec/ks");
    EXPECT_EQ(KeyStore::DirectoryOf(String_t("")).ToUtf8(), home.StoreDir());
    EXPECT_EQ(KeyStore::DirectoryOf(String_t::Null).ToUtf8(), home.StoreDir());
    KeyStore elsewhere{String_t(other.Path())};
    elsewhere.InstallCertificate(String_t("x"), Cert(0), false, false);
    EXPECT_TRUE(fs::exists(other.Path() + "/data/sec/ks/x_cert.pem"));
    EXPECT_FALSE(KeyStore().IsCertEntry(String_t("x")));
}

TEST(KeyStoreTest, FirstInstallCreatesDirectoryNodeKeyCertificateAndIndex) {
    StoreHome home;
    // Whatever the umask, the store is its owner's alone.
    mode_t old = umask(0);
    KeyStore ks;
    ks.InstallCertificate(String_t("alpha"), Cert(0), false, false);
    umask(old);
    EXPECT_EQ(home.Mode(""), 0700);
    EXPECT_EQ(home.Mode("nsk.dat"), 0600);
    EXPECT_EQ(home.Mode("ks.dat"), 0600);
    EXPECT_EQ(home.Mode("alpha_cert.pem"), 0600);
    EXPECT_EQ(home.Mode("ks.lock"), 0600);
    EXPECT_EQ(home.Read("alpha_cert.pem"), Pem(Cert(0)));
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("alpha", 1));
    EXPECT_TRUE(ks.IsCertEntry(String_t("alpha")));
    EXPECT_FALSE(ks.IsTrustedCertEntry(String_t("alpha")));
    EXPECT_FALSE(ks.IsPrivateKeyEntry(String_t("alpha")));
    X509Certificate back;
    ks.GetCertificate(String_t("alpha"), back);
    EXPECT_EQ(back.GetFingerprint(), Cert(0).GetFingerprint());

    // nsk.dat is Crypt text of 24 bytes without a zero byte.
    CharArray_t key;
    QmSecCore::Crypt().Decrypt(Arr(home.Read("nsk.dat")), key);
    ASSERT_EQ(key.GetSize(), 24);
    for (int i = 0; i < 24; ++i) EXPECT_NE(key[i], '\0');
    // Only the files of the store, no temporary left over.
    std::set<std::string> names;
    for (auto& e : fs::directory_iterator(home.StoreDir())) names.insert(e.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"alpha_cert.pem", "ks.dat", "ks.lock", "nsk.dat"}));
}

TEST(KeyStoreTest, TrustedInstallWritesTypeTwo) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("ca"), Cert(0), false, true);
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("ca", 2));
    EXPECT_TRUE(ks.IsCertEntry(String_t("ca")));
    EXPECT_TRUE(ks.IsTrustedCertEntry(String_t("ca")));
}

TEST(KeyStoreTest, ReplaceRuleForCertificates) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("a"), Cert(0), false, false);
    EXPECT_EQ(ThrownNumber<AlreadyInstalledException>(
                  [&] { ks.InstallCertificate(String_t("a"), Cert(1), false, true); }),
              31);
    EXPECT_EQ(home.Read("a_cert.pem"), Pem(Cert(0)));
    EXPECT_FALSE(ks.IsTrustedCertEntry(String_t("a")));

    ks.InstallCertificate(String_t("a"), Cert(1), true, true);
    EXPECT_EQ(home.Read("a_cert.pem"), Pem(Cert(1)));
    EXPECT_TRUE(ks.IsTrustedCertEntry(String_t("a")));
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("a", 2));
    ks.InstallCertificate(String_t("a"), Cert(1), true, false);
    EXPECT_FALSE(ks.IsTrustedCertEntry(String_t("a")));
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("a", 1));
}

TEST(KeyStoreTest, PrivateKeyRoundTripsAndIsEncrypted) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("me"), Cert(0), PrivateKey(), false, false);
    EXPECT_TRUE(ks.IsCertEntry(String_t("me")));
    EXPECT_TRUE(ks.IsPrivateKeyEntry(String_t("me")));
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("me") + KeyRecord("me"));
    EXPECT_EQ(home.Mode("me_key.dat"), 0600);
    std::string file = home.Read("me_key.dat");
    // Vector, then whole blocks; nothing of the clear key shows.
    EXPECT_EQ(file.size() % 8, 0u);
    EXPECT_GT(file.size(), 1000u);
    Key key;
    EXPECT_EQ(&ks.GetPrivateKey(String_t("me"), key), &key);
    EXPECT_EQ(key.GetType(), Key::eRSAPrivateKey);
    EXPECT_EQ(SignatureOf(key), SignatureOf(PrivateKey()));
    // Another object (reading nsk.dat itself) reads it too.
    Key again;
    KeyStore().GetPrivateKey(String_t("me"), again);
    EXPECT_EQ(SignatureOf(again), SignatureOf(PrivateKey()));
    // The key only: the certificate list does not show a key-only alias.
    ks.RemoveCertificate(String_t("me"));
    EXPECT_TRUE(ks.IsPrivateKeyEntry(String_t("me")));
    EXPECT_TRUE(AliasesOf(ks).empty());
}

// A second certificate with a key of its own.
const qmsec_test::TestCertificate& OtherPair() {
    static const qmsec_test::TestCertificate made =
        qmsec_test::CertificateBuilder()
            .CommonName("other")
            .SubjectKey(qmsec_test::TestRsaKey(2048, 1).privatePem)
            .Build();
    return made;
}

TEST(KeyStoreTest, CertificateWithKeyIsCheckedWholeBeforeAnythingIsWritten) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("both"), Cert(0), PrivateKey(), false, false);
    ks.InstallCertificate(String_t("key"), Cert(0), PrivateKey(), false, false);
    ks.RemoveCertificate(String_t("key"));
    ks.InstallCertificate(String_t("cert"), Cert(0), false, false);
    Key ours = PrivateKey(), otherKey(Key::eRSAPrivateKey, Arr(OtherPair().privateKeyPem));
    const struct {
        const char* alias;
        const Key& key;
        bool replace;
        int number;
    } cases[] = {
        {"key", ours, false, 33},      {"cert", ours, false, 31},     {"both", ours, false, 31},
        {"new", otherKey, false, 184}, {"both", otherKey, true, 184},
    };
    for (const auto& c : cases) {
        std::string before = home.Read("ks.dat");
        std::set<std::string> files;
        for (auto& e : fs::directory_iterator(home.StoreDir())) files.insert(e.path().filename());
        int number = -1;
        try {
            ks.InstallCertificate(String_t(c.alias), Cert(1), c.key, c.replace, true);
        } catch (const QmXplMsg::Exception_t& e) {
            number = qmsec_test::MessageNumber(e);
        }
        EXPECT_EQ(number, c.number) << c.alias;
        EXPECT_EQ(home.Read("ks.dat"), before) << c.alias;
        std::set<std::string> after;
        for (auto& e : fs::directory_iterator(home.StoreDir())) after.insert(e.path().filename());
        EXPECT_EQ(after, files) << c.alias;
    }
    // A certificate alone must be of the key the alias holds.
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>([&] {
                  ks.InstallCertificate(String_t("both"), X509Certificate(Arr(OtherPair().pem)),
                                        true, false);
              }),
              184);
    EXPECT_EQ(home.Read("both_cert.pem"), Pem(Cert(0)));
    // With replace both are written anew (a fresh vector: the key file changes).
    std::string keyFile = home.Read("key_key.dat");
    ks.InstallCertificate(String_t("key"), Cert(1), PrivateKey(), true, false);
    EXPECT_NE(home.Read("key_key.dat"), keyFile);
    EXPECT_EQ(home.Read("key_cert.pem"), Pem(Cert(1)));
    Key key;
    EXPECT_EQ(SignatureOf(ks.GetPrivateKey(String_t("key"), key)), SignatureOf(PrivateKey()));
}

TEST(KeyStoreTest, KeyWriteThatFailsPutsTheAliasBackAsItWas) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("pair"), Cert(0), PrivateKey(), false, false);
    Key otherKey(Key::eRSAPrivateKey, Arr(OtherPair().privateKeyPem));
    X509Certificate otherCert(Arr(OtherPair().pem));
    for (const char* alias : {"fresh", "pair"}) {
        // A directory where the key file goes: the key cannot be written, whatever the user.
        bool hadPair = ks.IsPrivateKeyEntry(String_t(alias));
        std::string certBefore = hadPair ? home.Read(std::string(alias) + "_cert.pem") : "";
        std::string keyPath = home.File(std::string(alias) + "_key.dat");
        fs::remove(keyPath);
        fs::create_directory(keyPath);
        EXPECT_EQ(ThrownNumber<KeyStoreException>([&] {
                      ks.InstallCertificate(String_t(alias), otherCert, otherKey, true, false);
                  }),
                  32)
            << alias;
        EXPECT_EQ(ks.IsCertEntry(String_t(alias)), hadPair) << alias;
        EXPECT_EQ(ks.IsPrivateKeyEntry(String_t(alias)), hadPair) << alias;
        EXPECT_EQ(home.Exists(std::string(alias) + "_cert.pem"), hadPair) << alias;
        if (hadPair) {
            EXPECT_EQ(home.Read(std::string(alias) + "_cert.pem"), certBefore);
        }
        EXPECT_EQ(KeyStore().IsCertEntry(String_t(alias)), hadPair) << alias;
    }
}

TEST(KeyStoreTest, KeyThatIsNotAnRsaPrivateKeyIsRefusedBeforeAnythingIsStored) {
    StoreHome home;
    KeyStore ks;
    const std::string& pub = qmsec_test::TestRsaKey(2048).publicPem;
    Key publicKey(Key::eRSAPublicKey, pub.data(), static_cast<int>(pub.size()));
    Key secretKey(Key::eSecretKey, "0123456789abcdef01234567", 24);
    for (const Key& wrong : {publicKey, secretKey}) {
        EXPECT_EQ(ThrownNumber<QmSecCore::InvalidKeyException>(
                      [&] { ks.InstallCertificate(String_t("a"), Cert(0), wrong, false, false); }),
                  79);
    }
    EXPECT_THROW(ks.InstallCertificate(String_t("a"), Cert(0), Key(), false, false),
                 IllegalStateError_t);
    EXPECT_FALSE(fs::exists(home.Root() + "/data"));
    EXPECT_FALSE(ks.IsCertEntry(String_t("a")));
}

TEST(KeyStoreTest, SecondObjectSeesChangesAtItsNextCall) {
    StoreHome home;
    KeyStore first, second;
    EXPECT_FALSE(second.IsCertEntry(String_t("a")));
    first.InstallCertificate(String_t("a"), Cert(0), false, false);
    EXPECT_TRUE(second.IsCertEntry(String_t("a")));
    // Changes that keep the index the same size, many within one clock tick.
    for (int i = 0; i < 50; ++i) {
        bool trusted = i % 2 == 0;
        first.InstallCertificate(String_t("a"), Cert(0), true, trusted);
        EXPECT_EQ(second.IsTrustedCertEntry(String_t("a")), trusted) << i;
    }
    first.RemoveCertificate(String_t("a"));
    EXPECT_FALSE(second.IsCertEntry(String_t("a")));
    // The index removed and written again.
    first.InstallCertificate(String_t("b"), Cert(0), false, false);
    EXPECT_TRUE(second.IsCertEntry(String_t("b")));
    ASSERT_EQ(::unlink(home.File("ks.dat").c_str()), 0);
    EXPECT_FALSE(second.IsCertEntry(String_t("b")));
    first.InstallCertificate(String_t("c"), Cert(0), false, false);
    EXPECT_TRUE(second.IsCertEntry(String_t("c")));
    // The first object had not seen the index go: its change re-read it, so b stays gone.
    EXPECT_EQ(AliasesOf(second), std::vector<std::string>{"c"});
}

TEST(KeyStoreTest, EveryIndexVersionIsLaterThanTheOneItReplaces) {
    // Readers tell versions of the index apart by time, size and inode; a file system clock
    // that does not advance between two quick writes, and an inode used again, must not make
    // two versions look alike. So every write gives the index a later time than before.
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("a"), Cert(0), false, false);
    struct stat previous {};
    ASSERT_EQ(::stat(home.File("ks.dat").c_str(), &previous), 0);
    for (int i = 0; i < 200; ++i) {
        ks.InstallCertificate(String_t("a"), Cert(0), true, i % 2 == 0);
        struct stat now {};
        ASSERT_EQ(::stat(home.File("ks.dat").c_str(), &now), 0);
        int64_t before = previous.st_mtim.tv_sec * 1000000000LL + previous.st_mtim.tv_nsec;
        int64_t after = now.st_mtim.tv_sec * 1000000000LL + now.st_mtim.tv_nsec;
        ASSERT_GT(after, before) << i;
        previous = now;
    }
    // The same when the clock has gone back: the index carries a time an hour ahead.
    struct timespec ahead[2] = {{0, UTIME_OMIT}, {previous.st_mtim.tv_sec + 3600, 5}};
    ASSERT_EQ(utimensat(AT_FDCWD, home.File("ks.dat").c_str(), ahead, 0), 0);
    KeyStore other;
    EXPECT_FALSE(other.IsTrustedCertEntry(String_t("a")));
    ks.InstallCertificate(String_t("a"), Cert(0), true, true);
    struct stat now {};
    ASSERT_EQ(::stat(home.File("ks.dat").c_str(), &now), 0);
    EXPECT_EQ(now.st_mtim.tv_sec, previous.st_mtim.tv_sec + 3600);
    EXPECT_EQ(now.st_mtim.tv_nsec, 6);
    EXPECT_TRUE(other.IsTrustedCertEntry(String_t("a")));
}

TEST(KeyStoreTest, AliasesAreSortedByUtf16UnitsAndAppended) {
    StoreHome home;
    KeyStore ks;
    for (const char* a : {"m", "Zulu", "alpha", "\xc3\xa9t\xc3\xa9", "B"})
        ks.InstallCertificate(String_t(a), Cert(0), false, false);
    ks.InstallCertificate(String_t("b-with-key"), Cert(0), PrivateKey(), false, false);
    ks.RemoveCertificate(String_t("b-with-key"));
    StringCollection c;
    c.Add(String_t("zz-before"));
    ks.Aliases(c);
    EXPECT_EQ(Elements(c), (std::vector<std::string>{"zz-before", "B", "Zulu", "alpha", "m",
                                                     "\xc3\xa9t\xc3\xa9"}));
    // Without clearing, a second listing appends again.
    EXPECT_EQ(ks.Aliases(c).Size(), 11);
}

TEST(KeyStoreTest, RemovingDeletesFileAndEntry) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("a"), Cert(0), PrivateKey(), false, false);
    ks.InstallCertificate(String_t("b"), Cert(1), false, true);
    ks.RemovePrivateKey(String_t("a"));
    EXPECT_FALSE(home.Exists("a_key.dat"));
    EXPECT_FALSE(ks.IsPrivateKeyEntry(String_t("a")));
    EXPECT_TRUE(ks.IsCertEntry(String_t("a")));
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("a") + CertRecord("b", 2));
    ks.RemoveCertificate(String_t("a"));
    EXPECT_FALSE(home.Exists("a_cert.pem"));
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("b", 2));
    ks.RemoveCertificate(String_t("b"));
    EXPECT_EQ(home.Read("ks.dat"), "");
    EXPECT_TRUE(AliasesOf(ks).empty());
}

TEST(KeyStoreTest, TheIndexIsWhatIsInstalled) {
    // Files an install killed half way leaves behind: those of aliases the index does not list,
    // and the temporaries of writes that never finished.
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("a"), Cert(0), false, false);
    for (const char* name : {"left_cert.pem", "left_key.dat", "gone_cert.pem", "gone_key.dat",
                             ".ks.dat.tmp-Ab12Cd", ".left_key.dat.tmp-x9Y8z7", ".keep"}) {
        home.Write(name, "not installed");
    }
    EXPECT_FALSE(ks.IsCertEntry(String_t("left")));
    ks.InstallCertificate(String_t("left"), Cert(1), PrivateKey(), false, true);
    EXPECT_EQ(home.Read("left_cert.pem"), Pem(Cert(1)));
    Key key;
    EXPECT_EQ(SignatureOf(ks.GetPrivateKey(String_t("left"), key)), SignatureOf(PrivateKey()));
    ks.RemoveCertificate(String_t("gone"));
    ks.RemovePrivateKey(String_t("gone"));
    std::set<std::string> names;
    for (auto& e : fs::directory_iterator(home.StoreDir())) names.insert(e.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{".keep", "a_cert.pem", "ks.dat", "ks.lock",
                                            "left_cert.pem", "left_key.dat", "nsk.dat"}));
    EXPECT_EQ(home.Read("ks.dat"), CertRecord("a") + CertRecord("left", 2) + KeyRecord("left"));
    EXPECT_EQ(AliasesOf(ks), (std::vector<std::string>{"a", "left"}));
}

TEST(KeyStoreTest, KeyAliasesAndUnlistedFilesNameWhatAliasesDoesNot) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("b"), Cert(0), false, false);
    for (const char* a : {"k", "a"})
        ks.InstallCertificate(String_t(a), Cert(0), PrivateKey(), false, false);
    ks.RemoveCertificate(String_t("k"));
    StringCollection c;
    c.Add(String_t("kept"));
    EXPECT_EQ(Elements(ks.KeyAliases(c)), (std::vector<std::string>{"kept", "a", "k"}));
    home.Write("left_key.dat", "not installed");
    struct Case {
        String_t alias;
        bool privateKey, unlisted;
    };
    for (const Case& t : {Case{String_t("left"), true, true}, Case{String_t("left"), false, false},
                          Case{String_t("a"), true, false}, Case{String_t::Null, true, false}}) {
        EXPECT_EQ(ks.HasUnlistedFile(t.alias, t.privateKey), t.unlisted)
            << t.alias.ToUtf8() << " " << t.privateKey;
    }
    ks.RemovePrivateKey(String_t("left"));
    EXPECT_FALSE(ks.HasUnlistedFile(String_t("left"), true));
}

TEST(KeyStoreTest, PortableAliasesAreValidOnesThatEveryFileSystemAndOutputTakes) {
    const std::string longest(200, 'x'), accented = [] {
        std::string s;
        for (int i = 0; i < 100; ++i) s += "\xc3\xa9";
        return s;
    }();
    for (const std::string& alias :
         {std::string("node-1"), std::string("Demo CA"), longest, accented, std::string("a.b")}) {
        EXPECT_TRUE(KeyStore::IsPortableAlias(String_t(alias))) << alias;
        EXPECT_TRUE(KeyStore::IsValidAlias(String_t(alias))) << alias;
    }
    for (const std::string& alias :
         {std::string(""), std::string("."), std::string(".."), std::string("a\\b"),
          std::string(" a"), std::string("a "), std::string("a\tb"), std::string("a\x7f"),
          longest + "x", accented + "x"}) {
        EXPECT_FALSE(KeyStore::IsPortableAlias(String_t(alias))) << alias;
        EXPECT_TRUE(KeyStore::IsValidAlias(String_t(alias))) << alias;
    }
    for (const String_t& alias :
         {String_t::Null, String_t("a/b"), String_t(std::u16string(u"\xD800"))})
        EXPECT_FALSE(KeyStore::IsPortableAlias(alias));
}

TEST(KeyStoreTest, RemovingAnEntryWhoseFileIsGoneReportsItAndDropsTheEntry) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("a"), Cert(0), PrivateKey(), false, false);
    ASSERT_EQ(::unlink(home.File("a_cert.pem").c_str()), 0);
    ASSERT_EQ(::unlink(home.File("a_key.dat").c_str()), 0);
    X509Certificate cert;
    EXPECT_EQ(ThrownNumber<EntryNotFoundException>([&] { ks.GetCertificate(String_t("a"), cert); }),
              25);
    Key key;
    EXPECT_EQ(ThrownNumber<EntryNotFoundException>([&] { ks.GetPrivateKey(String_t("a"), key); }),
              27);
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] { ks.RemoveCertificate(String_t("a")); }), 25);
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] { ks.RemovePrivateKey(String_t("a")); }), 27);
    EXPECT_FALSE(ks.IsCertEntry(String_t("a")));
    EXPECT_FALSE(ks.IsPrivateKeyEntry(String_t("a")));
    EXPECT_EQ(home.Read("ks.dat"), "");
    // A second attempt has nothing left to do.
    ks.RemoveCertificate(String_t("a"));
}

TEST(KeyStoreTest, KeyFileOfAnotherNodeCannotBeRead) {
    StoreHome home;
    qmsec_test::TempDir otherNode;
    KeyStore ours;
    KeyStore theirs{String_t(otherNode.Path())};
    ours.InstallCertificate(String_t("me"), Cert(0), PrivateKey(), false, false);
    theirs.InstallCertificate(String_t("me"), Cert(0), PrivateKey(), false, false);
    // Each directory made its own node key.
    EXPECT_NE(home.Read("nsk.dat"),
              qmsec_test::ReadFile(otherNode.Path() + "/data/sec/ks/nsk.dat"));
    // Their key file copied here: wrong padding, or (rarely) padding that passes and bytes that
    // are no key.
    int badPadding = 0, notAKey = 0;
    for (int i = 0; i < 8; ++i) {
        theirs.InstallCertificate(String_t("me"), Cert(0), PrivateKey(), true, false);
        home.Write("me_key.dat",
                   qmsec_test::ReadFile(otherNode.Path() + "/data/sec/ks/me_key.dat"));
        Key key;
        try {
            ours.GetPrivateKey(String_t("me"), key);
            ADD_FAILURE() << "a key of another node was read";
        } catch (const QmSecCore::BadPaddingException& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 76);
            ++badPadding;
        } catch (const KeyStoreException& e) {
            EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 30);
            ++notAKey;
        }
    }
    EXPECT_EQ(badPadding + notAKey, 8);
}

TEST(KeyStoreTest, NodeKeyIsMadeOnceAndKeptWhenItsFileGoes) {
    StoreHome home;
    KeyStore ks;
    ks.InstallCertificate(String_t("a"), Cert(0), PrivateKey(), false, false);
    std::string nodeKeyText = home.Read("nsk.dat");
    ks.InstallCertificate(String_t("b"), Cert(1), PrivateKey(), false, false);
    EXPECT_EQ(home.Read("nsk.dat"), nodeKeyText);
    // The file removed while this object knows the key: the same key is written again, so the
    // keys already stored stay readable for everyone.
    ASSERT_EQ(::unlink(home.File("nsk.dat").c_str()), 0);
    ks.InstallCertificate(String_t("c"), Cert(0), PrivateKey(), false, false);
    ASSERT_TRUE(home.Exists("nsk.dat"));
    for (const char* alias : {"a", "b", "c"}) {
        Key key;
        KeyStore().GetPrivateKey(String_t(alias), key);
        EXPECT_EQ(SignatureOf(key), SignatureOf(PrivateKey())) << alias;
    }
}

TEST(KeyStoreTest, MissingOrForeignNodeKeyIsNeverReplaced) {
    StoreHome home;
    KeyStore writer;
    writer.InstallCertificate(String_t("a"), Cert(0), PrivateKey(), false, false);
    std::string nodeKeyText = home.Read("nsk.dat");
    ASSERT_EQ(::unlink(home.File("nsk.dat").c_str()), 0);
    // A store that never saw the key cannot decrypt, and says which file is missing.
    KeyStore reader;
    Key key;
    try {
        reader.GetPrivateKey(String_t("a"), key);
        ADD_FAILURE() << "read without a node key";
    } catch (const KeyStoreException& e) {
        const QmXplMsg::Message_t& m = e.GetMessageList().Get(0);
        EXPECT_EQ(m.GetNumber(), 29);
        ASSERT_EQ(m.GetDetails().GetCount(), 1);
        EXPECT_EQ(m.GetDetails().Get(0).GetNumber(), 21);
        EXPECT_NE(m.GetDetails().Get(0).GetText().ToUtf8().find(home.File("nsk.dat")),
                  std::string::npos);
    }
    // Nor does it make a new key, under which the stored keys could never be read again.
    const std::function<void()> installs[] = {
        [&] { reader.InstallCertificate(String_t("b"), Cert(0), false, false); },
        [&] { reader.InstallCertificate(String_t("b"), Cert(0), PrivateKey(), false, false); }};
    for (const auto& install : installs) {
        EXPECT_EQ(ThrownNumber<KeyStoreException>(install), 182);
        EXPECT_FALSE(home.Exists("nsk.dat"));
        EXPECT_FALSE(reader.IsCertEntry(String_t("b")));
    }
    // The one that holds it still can.
    writer.GetPrivateKey(String_t("a"), key);
    EXPECT_EQ(SignatureOf(key), SignatureOf(PrivateKey()));
    // A node key file that another provider's key cannot open is reported as such.
    home.Write("nsk.dat", nodeKeyText);
    QmSecCore::CryptImpl::RegisterFunctionPointer(OtherNodeProvider);
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] { KeyStore(); }), 183);
    QmSecCore::CryptImpl::RegisterFunctionPointer(NodeProvider);
    // An empty node key file.
    home.Write("nsk.dat", "");
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] { KeyStore(); }), 21);
    // Without stored keys a missing node key is simply made.
    writer.RemovePrivateKey(String_t("a"));
    ASSERT_EQ(::unlink(home.File("nsk.dat").c_str()), 0);
    KeyStore().InstallCertificate(String_t("c"), Cert(0), PrivateKey(), false, false);
    EXPECT_TRUE(home.Exists("nsk.dat"));
}

TEST(KeyStoreTest, WithoutKeyProviderNodeKeyCannotBeMadeOrRead) {
    StoreHome home;
    QmSecCore::CryptImpl::RegisterFunctionPointer(nullptr);
    KeyStore ks;
    EXPECT_THROW(ks.InstallCertificate(String_t("a"), Cert(0), false, false), IllegalStateError_t);
    EXPECT_FALSE(home.Exists("nsk.dat"));
    EXPECT_FALSE(home.Exists("a_cert.pem"));
    QmSecCore::CryptImpl::RegisterFunctionPointer(NodeProvider);
    ks.InstallCertificate(String_t("a"), Cert(0), false, false);
    QmSecCore::CryptImpl::RegisterFunctionPointer(nullptr);
    EXPECT_THROW(KeyStore(), IllegalStateError_t);
}

TEST(KeyStoreTest, AliasesThatCannotBePartOfAFileNameAreRefusedBeforeAnyFileIsTouched) {
    StoreHome home;
    KeyStore ks;
    const String_t refused[] = {String_t::Null,
                                String_t("a/b"),
                                String_t("../escape"),
                                String_t("/"),
                                String_t(std::u16string(u"a\0b", 3)),
                                String_t(std::u16string(u"lone\xD800")),
                                String_t(std::u16string(u"\xDC00x"))};
    for (const String_t& alias : refused) {
        SCOPED_TRACE(alias.ToUtf8());
        Key key;
        X509Certificate cert;
        for (auto f : std::vector<std::function<void()>>{
                 [&] { ks.InstallCertificate(alias, Cert(0), true, false); },
                 [&] { ks.InstallCertificate(alias, Cert(0), PrivateKey(), true, false); },
                 [&] { ks.GetCertificate(alias, cert); }, [&] { ks.GetPrivateKey(alias, key); },
                 [&] { ks.RemoveCertificate(alias); }, [&] { ks.RemovePrivateKey(alias); }}) {
            try {
                f();
                ADD_FAILURE() << "accepted";
            } catch (const IllegalArgumentError_t& e) {
                EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 175);
                EXPECT_EQ(e.GetMessageList().Get(0).GetSeverity(), QmXplMsg::Severity_t::eWarning);
            }
        }
        EXPECT_FALSE(ks.IsCertEntry(alias));
        EXPECT_FALSE(ks.IsTrustedCertEntry(alias));
        EXPECT_FALSE(ks.IsPrivateKeyEntry(alias));
    }
    EXPECT_EQ(ThrownText<IllegalArgumentError_t>(
                  [&] { ks.InstallCertificate(String_t("a/b"), Cert(0), true, false); }),
              "Alias 'a/b' is not valid for a key store entry.");
    EXPECT_FALSE(fs::exists(home.Root() + "/data"));
}

// The file suffix keeps these inside the directory, and another component sharing the store may
// have written them: they are installed, loaded from the index, read and removed like any other.
TEST(KeyStoreTest, EmptyDotAndBackslashAliasesAreOrdinaryEntries) {
    StoreHome home;
    const std::vector<std::string> aliases = {"", ".", "..", "a\\b"};
    {
        KeyStore writer;
        for (const std::string& alias : aliases)
            writer.InstallCertificate(String_t(alias), Cert(0), PrivateKey(), false, true);
    }
    for (const std::string& alias : aliases) {
        EXPECT_TRUE(home.Exists(alias + "_cert.pem")) << alias;
        EXPECT_TRUE(home.Exists(alias + "_key.dat")) << alias;
    }
    KeyStore reader;  // loads the records from the index file
    EXPECT_EQ(AliasesOf(reader), aliases);
    for (const std::string& alias : aliases) {
        SCOPED_TRACE(alias);
        EXPECT_TRUE(reader.IsTrustedCertEntry(String_t(alias)));
        EXPECT_TRUE(reader.IsPrivateKeyEntry(String_t(alias)));
        X509Certificate cert;
        EXPECT_EQ(reader.GetCertificate(String_t(alias), cert).GetFingerprint(),
                  Cert(0).GetFingerprint());
        Key key;
        EXPECT_EQ(SignatureOf(reader.GetPrivateKey(String_t(alias), key)),
                  SignatureOf(PrivateKey()));
    }
    for (const std::string& alias : aliases) {
        reader.RemoveCertificate(String_t(alias));
        reader.RemovePrivateKey(String_t(alias));
    }
    EXPECT_TRUE(AliasesOf(KeyStore()).empty());
    std::set<std::string> left;
    for (auto& e : fs::directory_iterator(home.Root() + "/data/sec/ks"))
        left.insert(e.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"ks.dat", "ks.lock", "nsk.dat"}));
}

TEST(KeyStoreTest, DotsInsideLongerAliasesStayInTheDirectory) {
    StoreHome home;
    KeyStore ks;
    const char* accepted[] = {"a..b", "..x", "x..", "...", ".hidden", "node..1.example"};
    for (const char* alias : accepted)
        ks.InstallCertificate(String_t(alias), Cert(0), PrivateKey(), false, false);
    for (const char* alias : accepted) {
        EXPECT_TRUE(home.Exists(std::string(alias) + "_cert.pem")) << alias;
        EXPECT_TRUE(home.Exists(std::string(alias) + "_key.dat")) << alias;
        X509Certificate cert;
        ks.GetCertificate(String_t(alias), cert);
        Key key;
        ks.GetPrivateKey(String_t(alias), key);
    }
    // Nothing appeared beside the store directory.
    std::set<std::string> above;
    for (auto& e : fs::directory_iterator(home.Root() + "/data/sec"))
        above.insert(e.path().filename());
    EXPECT_EQ(above, std::set<std::string>{"ks"});
}

TEST(KeyStoreTest, FileSystemFailuresGiveTheirMessages) {
    StoreHome home;
    {
        // The store directory cannot be made: "data/sec" is a file.
        qmsec_test::TempDir base;
        base.Write("data/sec", "a file");
        KeyStore ks{String_t(base.Path())};
        EXPECT_EQ(ThrownNumber<KeyStoreException>(
                      [&] { ks.InstallCertificate(String_t("a"), Cert(0), false, false); }),
                  22);
    }
    KeyStore ks;
    ks.InstallCertificate(String_t("a"), Cert(0), false, false);
    // The certificate file cannot be replaced: a directory holds its name.
    fs::create_directory(home.File("d_cert.pem"));
    EXPECT_EQ(ThrownNumber<KeyStoreException>(
                  [&] { ks.InstallCertificate(String_t("d"), Cert(0), true, false); }),
              32);
    EXPECT_FALSE(ks.IsCertEntry(String_t("d")));
    // The same for a key file.
    fs::create_directory(home.File("a_key.dat"));
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] {
                  ks.InstallCertificate(String_t("a"), Cert(0), PrivateKey(), true, false);
              }),
              32);
    EXPECT_FALSE(ks.IsPrivateKeyEntry(String_t("a")));
    // A certificate file that holds no certificate.
    home.Write("a_cert.pem", "garbage");
    X509Certificate cert;
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] { ks.GetCertificate(String_t("a"), cert); }), 26);
    // The index cannot be replaced: a directory holds its name. The change is reported, and the
    // object does not pretend to hold it.
    fs::remove(home.File("ks.dat"));
    fs::create_directory(home.File("ks.dat"));
    EXPECT_EQ(ThrownNumber<KeyStoreException>(
                  [&] { ks.InstallCertificate(String_t("e"), Cert(0), true, false); }),
              24);
    EXPECT_FALSE(ks.IsCertEntry(String_t("e")));
    // A key file that cannot be deleted (a non-empty directory).
    fs::remove(home.File("ks.dat"));
    fs::remove(home.File("a_key.dat"));
    ks.InstallCertificate(String_t("f"), Cert(0), PrivateKey(), true, false);
    fs::remove(home.File("f_key.dat"));
    fs::create_directories(home.File("f_key.dat") + "/inside");
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] { ks.RemovePrivateKey(String_t("f")); }), 37);
    EXPECT_TRUE(ks.IsPrivateKeyEntry(String_t("f")));
    fs::create_directories(home.File("g_cert.pem"));
    home.Write("ks.dat", home.Read("ks.dat") + CertRecord("g"));
    fs::create_directories(home.File("g_cert.pem") + "/inside");
    EXPECT_EQ(ThrownNumber<KeyStoreException>([&] { ks.RemoveCertificate(String_t("g")); }), 36);
}

TEST(KeyStoreTest, OperationsAreTracedAsBlocks) {
    StoreHome home;
    qmsec_test::TraceCapture capture("sec.core.base=0xffffffff");
    {
        KeyStore ks;
        ks.InstallCertificate(String_t("a"), Cert(0), PrivateKey(), false, false);
        EXPECT_TRUE(ks.IsCertEntry(String_t("a")));
        EXPECT_TRUE(KeyStore().IsCertEntry(String_t("a")));  // reads the index
        ks.IsTrustedCertEntry(String_t("a"));
        ks.IsPrivateKeyEntry(String_t("a"));
        X509Certificate cert;
        ks.GetCertificate(String_t("a"), cert);
        Key key;
        ks.GetPrivateKey(String_t("a"), key);
        StringCollection c;
        ks.Aliases(c);
        ks.RemovePrivateKey(String_t("a"));
        ks.RemoveCertificate(String_t("a"));
        EXPECT_THROW(ks.GetCertificate(String_t("a"), cert), EntryNotFoundException);
    }
    for (const char* name : {"KeyStoreImpl:Constructor",
                             "KeyStoreImpl:Init",
                             "KeyStoreImpl:Destructor",
                             "KeyStoreImpl:DestroyThis()",
                             "KeyStoreImpl:Aliases()",
                             "KeyStoreImpl:GetCertificate()",
                             "KeyStoreImpl:GetPrivateKey()",
                             "KeyStoreImpl:InstallCertificate()",
                             "KeyStoreImpl:StoreCertificate()",
                             "KeyStoreImpl:InstallPrivateKey()",
                             "KeyStoreImpl:RemoveCertificate()",
                             "KeyStoreImpl:RemovePrivateKey()",
                             "KeyStoreImpl:IsPrivateKeyEntry()",
                             "KeyStoreImpl:IsCertEntry()",
                             "KeyStoreImpl:IsTrustedCertEntry()",
                             "KeyStoreImpl:AddItem()",
                             "KeyStoreImpl:WriteIndexFile()",
                             "KeyStoreImpl:ReadIndexFile()",
                             "KeyStoreImpl:ReadDataFromFile()",
                             "KeyStoreImpl: no index file found",
                             "KeyStoreImpl: cleared entry maps",
                             "KeyStoreImpl: index file has not changed, skipping read.",
                             "KeyStoreImpl: reading index file: '",
                             "KeyStoreImpl: Caught EOFException_t",
                             "Throwing exception 'EntryNotFoundException': "}) {
        EXPECT_TRUE(capture.Contains(name)) << name;
    }
    // The node key never shows in a trace.
    CharArray_t key;
    QmSecCore::Crypt().Decrypt(Arr(home.Read("nsk.dat")), key);
    for (const std::string& text : capture.Texts())
        EXPECT_EQ(text.find(Str(key)), std::string::npos) << text;
}

TEST(KeyStoreTest, EmptyHandleThrowsNamedAfterTheClass) {
    StoreHome home;
    KeyStore ks;
    static_cast<QmSecCore::Object&>(ks) = QmSecCore::Object();
    EXPECT_EQ(ks.operator->(), nullptr);
    try {
        ks.IsCertEntry(String_t("a"));
        ADD_FAILURE();
    } catch (const IllegalStateError_t& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetText().ToUtf8(), "KeyStore");
    }
    StringCollection c;
    EXPECT_THROW(ks.Aliases(c), IllegalStateError_t);
    EXPECT_THROW(ks.RemoveCertificate(String_t("a")), IllegalStateError_t);
    // An empty certificate or collection handle fails before anything is stored.
    KeyStore real;
    EXPECT_THROW(real.InstallCertificate(String_t("a"), X509Certificate(), false, false),
                 IllegalStateError_t);
    EXPECT_FALSE(fs::exists(home.Root() + "/data"));
    StringCollection empty;
    static_cast<QmSecCore::Object&>(empty) = QmSecCore::Object();
    EXPECT_THROW(real.Aliases(empty), IllegalStateError_t);
}

TEST(KeyStoreTest, SharedLibraryExportsOnlyTheChangingMembersOfTheBody) {
    void* library = dlopen(QMSEC_BINARY_DIR "/libQmSecCore.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name :
         {"_ZN9QmSecCore12KeyStoreImpl18InstallCertificateERKN8QmXplStr8String_tERKNS_"
          "15X509CertificateEbb",
          "_ZN9QmSecCore12KeyStoreImpl18InstallCertificateERKN8QmXplStr8String_tERKNS_"
          "15X509CertificateERKNS_3KeyEbb",
          "_ZN9QmSecCore12KeyStoreImpl17RemoveCertificateERKN8QmXplStr8String_tE",
          "_ZN9QmSecCore12KeyStoreImpl16RemovePrivateKeyERKN8QmXplStr8String_tE",
          "_ZNK9QmSecCore8KeyStoreptEv"}) {
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    }
    // The rest of the body is the library's own.
    for (const char* name : {"_ZN9QmSecCore12KeyStoreImpl13ReadIndexFileEv",
                             "_ZN9QmSecCore12KeyStoreImpl11IsCertEntryERKN8QmXplStr8String_tE"}) {
        EXPECT_EQ(dlsym(library, name), nullptr) << name;
    }
    dlclose(library);
}

}  // namespace
