// The key provider library: its secret file and the key it gives Crypt.
#include "QmSecKeyProvider/KeyProvider.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "QmSecCore/Crypt.h"
#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/Key.h"
#include "QmXpl/IOException_t.h"
#include "support/TempDir.h"

namespace {

using QmSecKeyProvider::KeyProvider;
using QmXplArray::CharArray_t;

// A node directory of the test's own; the library reads QMXPL_HOME whenever it builds a path.
class ProviderTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("QMXPL_HOME", dir_.Path().c_str(), 1); }
    std::string Secret() const { return dir_.Path() + "/conf/sec/provider.key"; }
    int Mode(const std::string& path) const {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
    }
    qmsec_test::TempDir dir_;
};

std::string Message(const QmXplMsg::Exception_t& e) {
    return e.GetMessageList().Format(QmXplMsg::kFormatText).ToUtf8();
}

TEST_F(ProviderTest, SecretIsCreatedOnceWithOwnerOnlyModes) {
    EXPECT_EQ(KeyProvider::GetSecretPath().ToUtf8(), Secret());
    umask(0);  // the modes must not depend on the caller's umask
    EXPECT_TRUE(KeyProvider::CreateSecret());
    EXPECT_EQ(Mode(Secret()), 0600);
    EXPECT_EQ(Mode(dir_.Path() + "/conf/sec"), 0700);
    std::string first = qmsec_test::ReadFile(Secret());
    ASSERT_EQ(first.size(), 32u);
    EXPECT_FALSE(KeyProvider::CreateSecret());
    EXPECT_EQ(qmsec_test::ReadFile(Secret()), first);
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path() + "/conf/sec")) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(ProviderTest, ProcessesRacingToCreateShareOneSecret) {
    constexpr int kProcesses = 8;
    int pipes[kProcesses][2];
    pid_t pids[kProcesses];
    for (int i = 0; i < kProcesses; ++i) {
        ASSERT_EQ(pipe(pipes[i]), 0);
        pids[i] = fork();
        ASSERT_GE(pids[i], 0);
        if (pids[i] == 0) {
            char created = 'e';
            try {
                created = KeyProvider::CreateSecret() ? 'y' : 'n';
            } catch (...) {
            }
            (void)!write(pipes[i][1], &created, 1);
            _exit(0);
        }
        close(pipes[i][1]);
    }
    int created = 0, kept = 0;
    for (int i = 0; i < kProcesses; ++i) {
        char c = 0;
        ASSERT_EQ(read(pipes[i][0], &c, 1), 1);
        close(pipes[i][0]);
        int status = 0;
        waitpid(pids[i], &status, 0);
        created += c == 'y';
        kept += c == 'n';
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(kept, kProcesses - 1);
    EXPECT_EQ(qmsec_test::ReadFile(Secret()).size(), 32u);
}

TEST_F(ProviderTest, KeyIsTheSecretAndCryptRoundTripsUnderIt) {
    ASSERT_TRUE(KeyProvider::CreateSecret());
    QmSecCore::Key key;
    KeyProvider::ProvideKey(key);
    ASSERT_EQ(key.GetType(), QmSecCore::Key::eSecretKey);
    CharArray_t bytes;
    key.GetEncoded(bytes);
    EXPECT_EQ(std::string(bytes.View()), qmsec_test::ReadFile(Secret()));

    KeyProvider::Register();
    QmSecCore::Crypt crypt;
    CharArray_t sealed, back;
    crypt.Encrypt("node-specific key", sealed);
    crypt.Decrypt(sealed, back);
    EXPECT_EQ(std::string(back.View()), "node-specific key");
    // Another secret cannot read it.
    ASSERT_EQ(std::remove(Secret().c_str()), 0);
    ASSERT_TRUE(KeyProvider::CreateSecret());
    EXPECT_THROW(crypt.Decrypt(sealed, back), QmXplMsg::Exception_t);
    QmSecCore::CryptImpl::RegisterFunctionPointer(nullptr);
}

TEST_F(ProviderTest, UnusableSecretsAreRefusedWithTheReason) {
    QmSecCore::Key key;
    try {
        KeyProvider::ProvideKey(key);
        FAIL() << "a missing secret was accepted";
    } catch (const QmXplIo::IOException_t& e) {
        EXPECT_NE(Message(e).find("Run 'qmsec init' to create it."), std::string::npos)
            << Message(e);
    }
    ASSERT_TRUE(KeyProvider::CreateSecret());
    ASSERT_EQ(chmod(Secret().c_str(), 0640), 0);
    try {
        KeyProvider::ProvideKey(key);
        FAIL() << "a secret the group may read was accepted";
    } catch (const QmXplIo::IOException_t& e) {
        EXPECT_NE(Message(e).find("must have mode 0600"), std::string::npos) << Message(e);
    }
    ASSERT_EQ(chmod(Secret().c_str(), 0600), 0);
    for (off_t size : {0, 31, 33}) {
        ASSERT_EQ(truncate(Secret().c_str(), size), 0);
        try {
            KeyProvider::ProvideKey(key);
            FAIL() << "a secret of " << size << " bytes was accepted";
        } catch (const QmXplIo::IOException_t& e) {
            EXPECT_NE(Message(e).find("must hold exactly 32 bytes"), std::string::npos)
                << Message(e);
        }
    }
    EXPECT_TRUE(key.IsNull());
    ASSERT_EQ(std::remove(Secret().c_str()), 0);
    ASSERT_EQ(mkdir(Secret().c_str(), 0700), 0);
    EXPECT_THROW(KeyProvider::ProvideKey(key), QmXplIo::IOException_t);
    // A directory in the secret's place is not replaced either.
    EXPECT_FALSE(KeyProvider::CreateSecret());
}

TEST_F(ProviderTest, DirectoryThatCannotBeMadeFailsWithoutLeavingAnything) {
    // A file where the configuration directory should be: not even root can make conf/sec.
    dir_.Write("conf", "not a directory");
    EXPECT_THROW(KeyProvider::CreateSecret(), QmXplIo::IOException_t);
    EXPECT_FALSE(std::filesystem::exists(Secret()));
}

}  // namespace
