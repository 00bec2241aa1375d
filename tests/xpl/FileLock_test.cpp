// The file lock: writers in several threads and processes take turns through it, and the lock
// file gets the mode it is asked for.
#include "QmXpl/FileLock_t.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "QmXpl/IOException_t.h"
#include "support/TempDir.h"

using QmXplIo::FileLock_t;
using QmXplStr::String_t;

namespace {

// Read-modify-write of a counter file under the lock, with a yield in the middle that lets
// another writer in should the lock not exclude it.
void Increment(const std::string& lock, const std::string& counter, int times) {
    for (int i = 0; i < times; ++i) {
        FileLock_t held{String_t(lock)};
        std::string text = qmsec_test::ReadFile(counter);
        int value = std::stoi(text);
        std::this_thread::yield();
        qmsec_test::WriteFile(counter, std::to_string(value + 1));
    }
}

TEST(FileLockTest, WritersInThreadsAndProcessesTakeTurns) {
    constexpr int kWriters = 4, kTimes = 50;
    for (bool processes : {false, true}) {
        SCOPED_TRACE(processes ? "processes" : "threads");
        qmsec_test::TempDir dir;
        const std::string lock = dir / "lock", counter = dir / "counter";
        qmsec_test::WriteFile(counter, "0");
        if (processes) {
            std::vector<pid_t> children;
            for (int w = 0; w < kWriters; ++w) {
                pid_t pid = fork();
                ASSERT_GE(pid, 0);
                if (pid == 0) {
                    Increment(lock, counter, kTimes);
                    _exit(::testing::Test::HasFailure() ? 1 : 0);
                }
                children.push_back(pid);
            }
            for (pid_t pid : children) {
                int status = 0;
                ASSERT_EQ(waitpid(pid, &status, 0), pid);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            }
        } else {
            std::vector<std::thread> threads;
            for (int w = 0; w < kWriters; ++w)
                threads.emplace_back(Increment, lock, counter, kTimes);
            for (auto& t : threads) t.join();
        }
        EXPECT_EQ(qmsec_test::ReadFile(counter), std::to_string(kWriters * kTimes));
    }
}

TEST(FileLockTest, LockFileGetsItsModeAndFailuresNameThePath) {
    qmsec_test::TempDir dir;
    qmsec_test::UmaskScope scope(077);
    struct Case {
        int existing;  // mode of a file there before, or -1
        FileLock_t::ModeRule rule;
        int expected;
    };
    for (const Case& c :
         {Case{-1, FileLock_t::eExactMode, 0640}, Case{0666, FileLock_t::eExactMode, 0640},
          Case{-1, FileLock_t::eCreateMode, 0600}, Case{0604, FileLock_t::eCreateMode, 0604}}) {
        const std::string path =
            dir / ("lock" + std::to_string(c.existing) + "-" + std::to_string(c.rule));
        if (c.existing >= 0) {
            qmsec_test::WriteFile(path, "");
            ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.existing)), 0);
        }
        { FileLock_t held(String_t(path), 0640, c.rule); }
        EXPECT_EQ(qmsec_test::PermissionsOf(path), c.expected) << path;
    }
    // A symbolic link in the last part is not followed; a missing directory cannot hold the file.
    ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    for (const std::string& path : {dir / "link", dir / "missing/lock"}) {
        try {
            FileLock_t held{String_t(path)};
            ADD_FAILURE() << path;
        } catch (const QmXplIo::IOException_t& e) {
            EXPECT_NE(e.GetMessageList().Format(QmXplMsg::kFormatOneLine).ToUtf8().find(path),
                      std::string::npos);
        }
    }
    EXPECT_NE(access((dir / "target").c_str(), F_OK), 0);
}

}  // namespace
