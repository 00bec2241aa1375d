#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "QmXpl/FileInputStream_t.h"
#include "QmXpl/FileOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/UTF8_t.h"
#include "support/Bytes.h"
#include "support/Streams.h"
#include "support/TempDir.h"

using namespace QmXplIo;
using qmsec_test::TempDir;
using QmXplStr::String_t;

namespace {

std::string Text(const QmXplMsg::Exception_t& e) {
    return QmXplStr::UTF8_t(e.GetMessageList().Format(QmXplMsg::kFormatText)).Str();
}

// The open flags of the descriptor of this process that refers to path, or -1.
long FlagsOfOpenDescriptor(const std::string& path) {
    for (int fd = 0; fd < 1024; ++fd) {
        char link[64], target[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (path != target) continue;
        char info[64];
        snprintf(info, sizeof info, "/proc/self/fdinfo/%d", fd);
        std::ifstream f(info);
        std::string key;
        while (f >> key) {
            if (key == "flags:") {
                std::string octal;
                f >> octal;
                return std::stol(octal, nullptr, 8);
            }
        }
    }
    return -1;
}

}  // namespace

TEST(FileInputStreamTest, ReadsAFileAndReportsMissingFilesAndDirectories) {
    TempDir dir;
    std::string data(100000, '\0');
    std::mt19937 rng(9);
    data = qmsec_test::RandomBytes(rng, data.size());
    qmsec_test::WriteFile(dir / "f.bin", data);

    FileInputStream_t in(String_t(dir / "f.bin"));
    EXPECT_EQ(in.Available(), 100000);
    EXPECT_EQ(in.Read(), static_cast<unsigned char>(data[0]));
    EXPECT_EQ(in.Skip(999), 999);
    EXPECT_EQ(in.Available(), 99000);
    std::string got;
    char buf[7000];
    for (int n; (n = in.Read(buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    EXPECT_TRUE(got == data.substr(1000));
    EXPECT_EQ(in.Read(buf, sizeof buf), -1);
    EXPECT_EQ(in.Skip(10), 0);
    in.Close();
    in.Close();  // harmless
    EXPECT_THROW(in.Read(buf, 1), IOException_t);

    try {
        FileInputStream_t missing(String_t(dir / "nope.txt"));
        FAIL() << "no exception";
    } catch (const FileNotFoundException_t& e) {
        EXPECT_NE(Text(e).find(dir / "nope.txt"), std::string::npos) << Text(e);
        EXPECT_NE(Text(e).find("No such file or directory"), std::string::npos) << Text(e);
    }
    try {
        FileInputStream_t directory(String_t(dir.Path()));
        FAIL() << "no exception";
    } catch (const FileNotFoundException_t& e) {
        EXPECT_NE(Text(e).find("Is a directory"), std::string::npos) << Text(e);
    }
}

TEST(FileStreamTest, DescriptorsAreClosedOnExec) {
    TempDir dir;
    qmsec_test::WriteFile(dir / "in", "x");
    FileInputStream_t in(String_t(dir / "in"));
    FileOutputStream_t out(String_t(dir / "out"));
    long inFlags = FlagsOfOpenDescriptor(dir / "in");
    long outFlags = FlagsOfOpenDescriptor(dir / "out");
    ASSERT_GE(inFlags, 0);
    ASSERT_GE(outFlags, 0);
    EXPECT_NE(inFlags & O_CLOEXEC, 0);
    EXPECT_NE(outFlags & O_CLOEXEC, 0);
    in.Close();
    out.Close();
    EXPECT_EQ(FlagsOfOpenDescriptor(dir / "in"), -1);  // Close releases the descriptor
}

namespace {
void NoOp(int) {}
}  // namespace

TEST(FileInputStreamTest, ReadsResumeAfterSignals) {
    TempDir dir;
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A handler without SA_RESTART: a blocked read returns EINTR unless the stream retries.
    struct sigaction sa {
    }, old{};
    sa.sa_handler = NoOp;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);

    pthread_t reader = pthread_self();
    std::atomic<bool> done{false};
    std::string expect;
    for (int i = 0; i < 20; ++i) expect += qmsec_test::Cat("line ", std::to_string(i), "\n");
    std::thread writer([&] {
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pthread_kill(reader, SIGUSR1);  // while the reader waits in open
        }
        int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        for (int i = 0; i < 20; ++i) {
            std::string line = qmsec_test::Cat("line ", std::to_string(i), "\n");
            (void)!write(fd, line.data(), line.size());
            for (int k = 0; k < 3 && !done; ++k) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                pthread_kill(reader, SIGUSR1);  // while the reader waits in read
            }
        }
        close(fd);
    });
    std::string got;
    try {
        FileInputStream_t in{String_t(fifo)};
        char buf[64];
        for (int n; (n = in.Read(buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    } catch (...) {
        done = true;
        writer.join();
        sigaction(SIGUSR1, &old, nullptr);
        throw;
    }
    done = true;
    writer.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(got, expect);
}

TEST(FileOutputStreamTest, CreatesTruncatesAndAppends) {
    TempDir dir;
    String_t path(dir / "out.txt");
    {
        FileOutputStream_t out(path);
        out.Write("hello ", 6);
        out.Write('w');
        out.Flush();
        out.Close();
        out.Close();  // harmless
        EXPECT_THROW(out.Write("x", 1), IOException_t);
    }
    EXPECT_EQ(qmsec_test::ReadFile(dir / "out.txt"), "hello w");
    {
        FileOutputStream_t out(path, true);
        out.Write("orld", 4);
        out.Close();
    }
    EXPECT_EQ(qmsec_test::ReadFile(dir / "out.txt"), "hello world");
    {
        FileOutputStream_t out(path);  // replaces the content
        out.Write("new", 3);
    }  // the body closes its descriptor when it goes
    EXPECT_EQ(qmsec_test::ReadFile(dir / "out.txt"), "new");

    EXPECT_THROW(FileOutputStream_t(String_t(dir / "no/such/dir/f")), FileNotFoundException_t);
    EXPECT_THROW(FileOutputStream_t(String_t(dir.Path())), FileNotFoundException_t);
    EXPECT_THROW(FileOutputStream_t(path, false, 010000), QmXplMsg::IllegalArgumentError_t);
}

TEST(FileOutputStreamTest, WriteErrorsCarryTheSystemText) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    FileOutputStream_t out(String_t("/dev/full"));
    try {
        out.Write("x", 1);
        FAIL() << "no exception";
    } catch (const IOException_t& e) {
        EXPECT_NE(Text(e).find("No space left on device"), std::string::npos) << Text(e);
        EXPECT_NE(Text(e).find("/dev/full"), std::string::npos) << Text(e);
    }
}

TEST(FileOutputStreamTest, ExplicitModeIsExactForNewFilesWhateverTheUmask) {
    TempDir dir;
    for (mode_t mask : {mode_t{0}, mode_t{077}, mode_t{022}}) {
        qmsec_test::UmaskScope scope(mask);
        for (int mode : {0600, 0640, 0644, 0400}) {
            std::string p =
                dir / qmsec_test::Cat("f", std::to_string(mask), "_", std::to_string(mode));
            FileOutputStream_t out(String_t(p), false, mode);
            out.Write("secret", 6);
            out.Close();
            EXPECT_EQ(qmsec_test::PermissionsOf(p), mode) << "umask " << mask;
        }
    }
    // An existing file keeps its permissions and gets the new content.
    std::string p = dir / "existing";
    qmsec_test::WriteFile(p, "old content");
    chmod(p.c_str(), 0604);
    FileOutputStream_t out(String_t(p), false, 0600);
    out.Write("new", 3);
    out.Close();
    EXPECT_EQ(qmsec_test::PermissionsOf(p), 0604);
    EXPECT_EQ(qmsec_test::ReadFile(p), "new");
}
