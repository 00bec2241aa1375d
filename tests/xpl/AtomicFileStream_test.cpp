#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "QmXpl/AtomicFileOutputStream_t.h"
#include "QmXpl/BufferedOutputStream_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "support/Bytes.h"
#include "support/NonRegularFiles.h"
#include "support/Streams.h"
#include "support/TempDir.h"

using namespace QmXplIo;
using qmsec_test::TempDir;
using QmXplStr::String_t;

namespace {

// Two contents that differ in length and in every byte, each with a trailer naming it, so that
// any mix of them (or a cut) is recognised.
std::string Content(char fill, size_t size) {
    std::string s(size, fill);
    s.replace(size - 8, 8, std::string("<end:") + fill + ">\n");
    return s;
}

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

TEST(AtomicFileOutputStreamTest, ReaderInAnotherProcessNeverSeesATornFile) {
    TempDir dir;
    const std::string target = dir / "state.dat";
    const std::string stop = dir / "stop";
    const std::string a = Content('A', 700 * 1024), b = Content('B', 300 * 1024 + 5);
    File_t::WriteAtomically(String_t(target), qmsec_test::Arr(a));

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Reader: read the whole file again and again with plain system calls until told to stop.
        close(ready[0]);
        long reads = 0;
        int64_t deadline = NowMs() + 120000;
        while (access(stop.c_str(), F_OK) != 0 && NowMs() < deadline) {
            std::string got = qmsec_test::ReadFile(target);
            if (got != a && got != b) _exit(1);
            if (++reads == 1) (void)!write(ready[1], "r", 1);
        }
        _exit(reads > 1 ? 0 : 2);
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);  // the reader is running
    close(ready[0]);

    for (int i = 0; i < 60; ++i) {
        const std::string& next = (i % 2 == 0) ? b : a;
        if (i % 3 == 0) {
            File_t::WriteAtomically(String_t(target), qmsec_test::Arr(next));
        } else {
            // Streamed in pieces: the reader must not see the pieces either.
            AtomicFileOutputStream_t out{String_t(target)};
            for (size_t pos = 0; pos < next.size(); pos += 50000)
                out.Write(next.data() + pos,
                          static_cast<int>(std::min<size_t>(50000, next.size() - pos)));
            out.Close();
        }
    }
    qmsec_test::WriteFile(stop, "");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: torn or mixed content seen, 2: reader did not run";
    EXPECT_EQ(qmsec_test::ReadFile(target), a);  // 60 rewrites end with a
    // Nothing but the target and the stop file is left.
    auto names = dir.Names();
    EXPECT_EQ(names.size(), 2u);
}

TEST(AtomicFileOutputStreamTest, DestroyedWithoutCloseLeavesTheOldFile) {
    TempDir dir;
    const std::string target = dir / "keep.txt";
    qmsec_test::WriteFile(target, "old content");
    {
        AtomicFileOutputStream_t out{String_t(target)};
        out.Write("new content that is never committed", 36);
        EXPECT_EQ(dir.Names().size(), 2u);  // the temporary lies beside the target
    }
    EXPECT_EQ(qmsec_test::ReadFile(target), "old content");
    ASSERT_EQ(dir.Names().size(), 1u);
    EXPECT_EQ(dir.Names()[0], "keep.txt");

    // A committed stream replaces the file; a second Close does nothing; writing then throws.
    AtomicFileOutputStream_t out{String_t(target)};
    out.Write("replaced", 8);
    EXPECT_EQ(qmsec_test::ReadFile(target), "old content");  // not before Close
    out.Close();
    out.Close();
    EXPECT_EQ(qmsec_test::ReadFile(target), "replaced");
    EXPECT_THROW(out.Write("x", 1), IOException_t);
    EXPECT_EQ(dir.Names().size(), 1u);

    EXPECT_THROW(AtomicFileOutputStream_t(String_t(dir / "missing/dir/f")), IOException_t);
}

TEST(AtomicFileOutputStreamTest, PermissionsAreExactWhateverTheUmask) {
    TempDir dir;
    for (mode_t mask : {mode_t{0}, mode_t{077}}) {
        qmsec_test::UmaskScope scope(mask);
        std::string p1 = dir / qmsec_test::Cat("stream", std::to_string(mask));
        AtomicFileOutputStream_t out{String_t(p1)};
        out.Write("k", 1);
        out.Close();
        EXPECT_EQ(qmsec_test::PermissionsOf(p1), 0600) << "umask " << mask;

        std::string p2 = dir / qmsec_test::Cat("whole", std::to_string(mask));
        File_t::WriteAtomically(String_t(p2), qmsec_test::Arr("k"));
        EXPECT_EQ(qmsec_test::PermissionsOf(p2), 0600) << "umask " << mask;

        // Replacing a file that was wider leaves it exactly as asked.
        qmsec_test::WriteFile(p2, "wide", 0666);
        chmod(p2.c_str(), 0666);
        File_t::WriteAtomically(String_t(p2), qmsec_test::Arr("k"));
        EXPECT_EQ(qmsec_test::PermissionsOf(p2), 0600);

        std::string p3 = dir / qmsec_test::Cat("group", std::to_string(mask));
        AtomicFileOutputStream_t group(String_t(p3), 0640);
        group.Close();
        EXPECT_EQ(qmsec_test::PermissionsOf(p3), 0640) << "umask " << mask;
    }
}

TEST(AtomicFileOutputStreamTest, CreateModeTakesTheUmaskAndAReplacedFileKeepsItsMode) {
    TempDir dir;
    const std::string owned = dir / "owned";
    qmsec_test::WriteFile(owned, "old");
    ASSERT_EQ(chown(owned.c_str(), 12345, 12345), 0);
    ASSERT_EQ(chmod(owned.c_str(), 0640), 0);
    struct Case {
        mode_t umask;
        int mode;
        bool existing;
        int expected;
    } cases[] = {
        {0, 0666, false, 0666},  {077, 0666, false, 0600}, {022, 0666, false, 0644},
        {0, 0600, false, 0600},  {077, 0600, false, 0600}, {0, 0600, true, 0640},
        {077, 0666, true, 0640},
    };
    int n = 0;
    for (const Case& c : cases) {
        qmsec_test::UmaskScope scope(c.umask);
        const std::string target = c.existing ? owned : dir / qmsec_test::Cat("new", n++);
        AtomicFileOutputStream_t out(String_t(target), c.mode,
                                     AtomicFileOutputStream_t::eCreateMode);
        out.Write("new", 3);
        out.Close();
        EXPECT_EQ(qmsec_test::PermissionsOf(target), c.expected)
            << "umask " << c.umask << " mode " << c.mode << " existing " << c.existing;
    }
    struct stat st {};
    ASSERT_EQ(stat(owned.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 12345u);  // root rewriting a user's file leaves it the user's
    EXPECT_EQ(st.st_gid, 12345u);
    // A set-id bit belonged to the program that was there, not to what replaces it.
    ASSERT_EQ(chmod(owned.c_str(), 06750), 0);
    AtomicFileOutputStream_t out(String_t(owned), 0666, AtomicFileOutputStream_t::eCreateMode);
    out.Close();
    EXPECT_EQ(qmsec_test::PermissionsOf(owned), 0750);
}

// Only a regular file is replaced by a rename: renaming over a device or a FIFO would put a plain
// file where the system expects /dev/null or a pipe, and renaming over a link would cut it.
TEST(AtomicFileOutputStreamTest, DevicesAndPipesAreWrittenInPlaceAndLinksFollowed) {
    TempDir dir;
    const std::string device = dir / "null", fifo = dir / "fifo", file = dir / "file";
    const std::string link = dir / "link", dangling = dir / "dangling";
    // A copy of /dev/null (1,3).
    ASSERT_TRUE(qmsec_test::MakeNullDevice(device));
    qmsec_test::WriteFile(file, "old", 0640);
    ASSERT_EQ(symlink("file", link.c_str()), 0);
    ASSERT_EQ(symlink("created", dangling.c_str()), 0);
    // A stranger's link in a sticky, world-writable directory: the kernel would not follow it for
    // root, and neither does the stream.
    const std::string shared = dir / "shared", trap = dir / "shared/trap";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(symlink(file.c_str(), trap.c_str()), 0);
    ASSERT_EQ(lchown(trap.c_str(), 12345, 12345), 0);

    qmsec_test::FifoWithReader reader(fifo);
    for (const std::string& target : {device, fifo, link, dangling}) {
        AtomicFileOutputStream_t out(String_t(target), 0644, AtomicFileOutputStream_t::eCreateMode);
        out.Write("data", 4);
        out.Close();
    }
    EXPECT_THROW(AtomicFileOutputStream_t(String_t(trap)), IOException_t);

    using qmsec_test::KindOf;
    EXPECT_EQ(KindOf(device), "null device");
    EXPECT_EQ(KindOf(fifo), "fifo");
    EXPECT_EQ(reader.Drain(), "data");
    for (const std::string& l : {link, dangling, trap}) EXPECT_EQ(KindOf(l), "link") << l;
    EXPECT_EQ(qmsec_test::ReadFile(file), "data");
    EXPECT_EQ(qmsec_test::PermissionsOf(file), 0640);
    EXPECT_EQ(qmsec_test::ReadFile(dir / "created"), "data");
}

TEST(AtomicFileOutputStreamTest, AFailedWriteNeverCommits) {
    TempDir dir;
    const std::string target = dir / "index.dat";
    qmsec_test::WriteFile(target, "previous index");
    // In a child process, so that the file size limit touches nothing else: writes beyond
    // 64 KiB fail with EFBIG.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{64 * 1024, 64 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(10);
        std::string big(100 * 1024, 'x');
        int code = 0;
        {
            AtomicFileOutputStream_t out{String_t(target)};
            try {
                out.Write(big.data(), static_cast<int>(big.size()));
                _exit(11);
            } catch (const IOException_t&) {
            }
            // A close after the failure must not commit the truncated file.
            try {
                out.Close();
                code = 12;
            } catch (const IOException_t&) {
            }
            try {
                out.Close();
                code = 13;
            } catch (const IOException_t&) {
            }
        }
        {
            // The same through a buffer whose final flush fails inside Close.
            AtomicFileOutputStream_t file{String_t(target)};
            BufferedOutputStream_t out(file, 200 * 1024);
            out.Write(big.data(), 1000);
            out.Write(big.data(), 90 * 1024);
            try {
                out.Close();
                code = 14;
            } catch (const IOException_t&) {
            }
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(qmsec_test::ReadFile(target), "previous index");
    EXPECT_EQ(dir.Names().size(), 1u);  // no temporary left behind
}
