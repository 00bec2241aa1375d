// -o FILE: what an existing name becomes, and the mode of what is written.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/CliRunner.h"
#include "support/NonRegularFiles.h"

namespace qmsec_cli {
namespace {

// Run as root (as CI does), a rename over "-o /dev/null" replaced the system's device with a
// plain file. A copy of the device, a FIFO and a link stand for what an operator may name.
TEST(CliOutput, DevicesAndPipesAreWrittenAndLinksFollowed) {
    Node node;
    const std::string device = node.File("null"), fifo = node.File("fifo");
    const std::string file = node.Write("file", "old"), link = node.File("link");
    ASSERT_TRUE(qmsec_test::MakeNullDevice(device));
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);

    qmsec_test::FifoWithReader reader(fifo);
    for (const std::string& target : {device, fifo, link}) {
        Result r = node({"base64", "-o", target}, "abc");
        EXPECT_EQ(r.status, 0) << target << "\n" << r;
    }

    using qmsec_test::KindOf;
    EXPECT_EQ(KindOf(device), "null device");
    EXPECT_EQ(KindOf(fifo), "fifo");
    EXPECT_EQ(reader.Drain(), "YWJj\n");
    EXPECT_EQ(KindOf(link), "link");
    EXPECT_EQ(node.Read("file"), "YWJj\n");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A new file takes the umask, unless it holds what was decrypted; a replaced file keeps its mode.
TEST(CliOutput, NewFilesTakeTheUmaskAndDecryptedOnesAreTheOwnersAlone) {
    Node node;
    node.Write("plain", "secret text");
    ASSERT_EQ(node.Shell("PW=pw \"$QMSEC\" encrypt --password-env PW plain -o enc").status, 0);
    struct Case {
        const char* umask;
        const char* command;
        int fresh;  // mode of a new file
    } cases[] = {
        {"000", "base64 plain", 0666},
        {"077", "base64 plain", 0600},
        {"000", "encrypt --password-env PW plain", 0666},
        {"000", "decrypt --password-env PW enc", 0600},
        {"022", "decrypt --password-env PW enc", 0600},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string fresh = "out" + std::to_string(n++), kept = fresh + ".kept";
        node.Write(kept, "old");
        ASSERT_EQ(chmod(node.File(kept).c_str(), 0604), 0);
        for (const std::string& out : {fresh, kept}) {
            Result r = node.Shell(std::string("umask ") + c.umask + " && PW=pw \"$QMSEC\" " +
                                  c.command + " -o " + out);
            ASSERT_EQ(r.status, 0) << c.command << "\n" << r;
        }
        struct stat st {};
        ASSERT_EQ(stat(node.File(fresh).c_str(), &st), 0);
        EXPECT_EQ(static_cast<int>(st.st_mode & 07777), c.fresh) << c.umask << " " << c.command;
        ASSERT_EQ(stat(node.File(kept).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0604u) << c.umask << " " << c.command;
    }
    EXPECT_EQ(node.Read("out3"), "secret text");
}

}  // namespace
}  // namespace qmsec_cli
