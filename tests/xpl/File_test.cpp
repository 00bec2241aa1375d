#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "QmXpl/DirLister_t.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/File_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/UTF8_t.h"
#include "support/Bytes.h"
#include "support/Streams.h"
#include "support/TempDir.h"

using namespace QmXplIo;
using qmsec_test::TempDir;
using QmXplStr::String_t;

namespace {

std::string U8(const String_t& s) { return QmXplStr::UTF8_t(s).Str(); }

std::vector<std::string> List(const std::string& dir, const DirLister_t::Filter_t& filter) {
    DirLister_t lister(String_t(dir), filter);
    std::vector<std::string> names;
    String_t name;
    while (lister.Next(name)) names.push_back(U8(name));
    EXPECT_FALSE(lister.Next(name));
    return names;
}

// A filter of the caller's own: everything that is not XML.
class NotXml : public DirLister_t::Filter_t {
  public:
    bool Accept(const String_t& name) const override { return !name.EndsWith(String_t(".xml")); }
};

}  // namespace

TEST(FileTest, PathParts) {
    File_t f(String_t("/a//b/c.txt/"));
    EXPECT_EQ(U8(f.GetPath()), "/a/b/c.txt");
    EXPECT_EQ(U8(f.GetName()), "c.txt");
    EXPECT_EQ(U8(f.GetParent()), "/a/b");
    EXPECT_EQ(U8(File_t(String_t("/a")).GetParent()), "/");
    EXPECT_TRUE(File_t(String_t("/")).GetParent().IsNull());
    EXPECT_TRUE(File_t(String_t("name")).GetParent().IsNull());
    EXPECT_EQ(U8(File_t(String_t("name")).GetName()), "name");
    EXPECT_EQ(U8(File_t(String_t("/")).GetPath()), "/");
    EXPECT_EQ(U8(File_t(String_t("/x/y")).GetAbsolutePath()), "/x/y");

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(U8(File_t(String_t("rel/x")).GetAbsolutePath()), std::string(cwd) + "/rel/x");
    EXPECT_FALSE(File_t().Exists());
    EXPECT_FALSE(File_t(String_t::Null).Exists());
}

TEST(FileTest, ExistsLengthStatDeleteAndPermissions) {
    TempDir dir;
    std::string p = dir / "data.bin";
    File_t f{String_t(p)};
    EXPECT_FALSE(f.Exists());
    EXPECT_EQ(f.Length(), 0);
    EXPECT_EQ(f.LastModified(), 0);
    EXPECT_FALSE(f.Stat().exists);
    EXPECT_FALSE(f.Delete());

    qmsec_test::WriteFile(p, std::string(1234, 'x'));
    EXPECT_TRUE(f.Exists());
    EXPECT_TRUE(f.IsFile());
    EXPECT_FALSE(f.IsDirectory());
    EXPECT_EQ(f.Length(), 1234);
    struct stat st {};
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    File_t::Stat_t s = f.Stat();
    EXPECT_TRUE(s.exists);
    EXPECT_EQ(s.size, 1234);
    EXPECT_EQ(s.inode, st.st_ino);
    EXPECT_EQ(s.device, st.st_dev);
    EXPECT_EQ(s.mtimeNs, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec);
    EXPECT_EQ(s.mode, static_cast<int>(st.st_mode));
    EXPECT_EQ(f.LastModified(), s.mtimeNs);

    f.SetPermissions(0640);
    EXPECT_EQ(qmsec_test::PermissionsOf(p), 0640);
    {
        qmsec_test::UmaskScope scope(077);
        f.SetPermissions(0666);  // exact, whatever the umask
        EXPECT_EQ(qmsec_test::PermissionsOf(p), 0666);
    }
    EXPECT_THROW(File_t(String_t(dir / "missing")).SetPermissions(0600), IOException_t);
    EXPECT_THROW(f.SetPermissions(-1), QmXplMsg::IllegalArgumentError_t);

    // An atomic rewrite is a new inode: the key store sees the change even at equal size and time.
    File_t::WriteAtomically(String_t(p), qmsec_test::Arr(std::string(1234, 'y')));
    EXPECT_NE(f.Stat().inode, s.inode);
    EXPECT_FALSE(f.Stat() == s);

    EXPECT_TRUE(f.Delete());
    EXPECT_FALSE(f.Exists());
    EXPECT_FALSE(f.Delete());

    // A symbolic link is removed itself, not its target.
    std::string target = dir / "target";
    qmsec_test::WriteFile(target, "t");
    ASSERT_EQ(symlink(target.c_str(), (dir / "link").c_str()), 0);
    EXPECT_TRUE(File_t(String_t(dir / "link")).Delete());
    EXPECT_TRUE(File_t(String_t(target)).Exists());
}

TEST(FileTest, LastModifiedHasNanosecondPrecision) {
    TempDir dir;
    std::string p = dir / "stamp";
    File_t f{String_t(p)};
    qmsec_test::WriteFile(p, "1");
    const int64_t first = f.LastModified();
    ASSERT_GT(first, 0);
    // The file system's clock advances in ticks of a few milliseconds at most; rewrite until
    // the time moves. A clock in whole seconds would need a second or more.
    int64_t later = first;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (later == first && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        qmsec_test::WriteFile(p, "2");
        later = f.LastModified();
    }
    ASSERT_NE(later, first);
    EXPECT_GT(later, first);
    EXPECT_LT(later - first, 1000000000) << "changed only after a second or more";
    EXPECT_TRUE(first % 1000000000 != 0 || later % 1000000000 != 0);

    struct stat st {};
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(later, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec);
}

TEST(FileTest, MkdirsCreatesEveryMissingParent) {
    TempDir dir;
    File_t nested{String_t(dir / "a/b/c/d")};
    EXPECT_TRUE(nested.Mkdirs());
    EXPECT_TRUE(nested.IsDirectory());
    EXPECT_TRUE(nested.Mkdirs());  // already there
    // Exact modes whatever the umask: the directory itself as asked, parents 0755.
    for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        qmsec_test::UmaskScope scope(mask);
        const std::string top = dir / ("x" + std::to_string(mask));
        EXPECT_TRUE(File_t(String_t(top + "/y/ks")).Mkdirs(0700));
        EXPECT_EQ(qmsec_test::PermissionsOf(top + "/y/ks"), 0700) << "umask " << mask;
        EXPECT_EQ(qmsec_test::PermissionsOf(top + "/y"), 0755) << "umask " << mask;
        EXPECT_EQ(qmsec_test::PermissionsOf(top), 0755) << "umask " << mask;
    }
    // Who else may change a directory's entries.
    for (auto [mode, open] : {std::pair{0755, false}, std::pair{0775, true}, std::pair{0757, true},
                              std::pair{01777, false}, std::pair{0700, false}}) {
        ASSERT_EQ(chmod((dir / "a").c_str(), static_cast<mode_t>(mode)), 0);
        EXPECT_EQ(File_t(String_t(dir / "a")).IsWritableByOthers(), open) << std::oct << mode;
    }
    EXPECT_FALSE(File_t(String_t(dir / "missing")).IsWritableByOthers());
    // A file in the way: false, and nothing is created below it.
    qmsec_test::WriteFile(dir / "file", "f");
    EXPECT_FALSE(File_t(String_t(dir / "file/sub")).Mkdirs());
    EXPECT_FALSE(File_t(String_t(dir / "file")).Mkdirs());
    // A parent where nobody may create anything, root included: false.
    EXPECT_FALSE(File_t(String_t("/proc/qmsec-test-new/dir")).Mkdirs());
    // Empty directories can be deleted, full ones not.
    EXPECT_FALSE(File_t(String_t(dir / "a/b")).Delete());
    EXPECT_TRUE(File_t(String_t(dir / "a/b/c/d")).Delete());
    EXPECT_FALSE(File_t(String_t(dir / "a/b/c/d")).Exists());
}

TEST(FileTest, ReadAllAndWriteAtomically) {
    TempDir dir;
    std::mt19937 rng(12);
    std::string data = qmsec_test::RandomBytes(rng, 300001);
    File_t::WriteAtomically(String_t(dir / "blob"), qmsec_test::Arr(data));
    EXPECT_TRUE(qmsec_test::Str(File_t::ReadAll(String_t(dir / "blob"))) == data);
    File_t::WriteAtomically(String_t(dir / "empty"), QmXplArray::CharArray_t());
    EXPECT_EQ(File_t::ReadAll(String_t(dir / "empty")).GetSize(), 0);
    EXPECT_EQ(dir.Names().size(), 2u);

    EXPECT_THROW(File_t::ReadAll(String_t(dir / "missing")), FileNotFoundException_t);
    EXPECT_THROW(File_t::ReadAll(String_t(dir.Path())), FileNotFoundException_t);
    EXPECT_THROW(File_t::WriteAtomically(String_t(dir / "no/dir/f"), qmsec_test::Arr("x")),
                 IOException_t);
    // A file whose size is not known in advance is read whole as well.
    QmXplArray::CharArray_t self = File_t::ReadAll(String_t("/proc/self/status"));
    EXPECT_NE(qmsec_test::Str(self).find("Pid:"), std::string::npos);
}

TEST(DirListerTest, SortedFilteredNames) {
    TempDir dir;
    // In UTF-16 order é (U+00E9) < 😀 (D83D DE00) < Ａ (U+FF21); in UTF-8 byte order Ａ (EF ..)
    // would come before 😀 (F0 ..).
    for (const char* n : {"b.xml", "a.xml", "c.txt", "\xEF\xBC\xA1.xml", "\xF0\x9F\x98\x80.xml",
                          "\xC3\xA9.xml", "Z.xml", ".hidden.xml"})
        qmsec_test::WriteFile(dir / n, "x");
    ASSERT_EQ(mkdir((dir / "sub.xml").c_str(), 0700), 0);

    std::vector<std::string> xml = List(dir.Path(), DirLister_t::Filter_t(String_t(".xml")));
    std::vector<std::string> expect = {
        ".hidden.xml",          "Z.xml",           "a.xml", "b.xml", "sub.xml", "\xC3\xA9.xml",
        "\xF0\x9F\x98\x80.xml", "\xEF\xBC\xA1.xml"};
    EXPECT_EQ(xml, expect);

    std::vector<std::string> all = List(dir.Path(), Filter_t(String_t("")));
    EXPECT_EQ(all.size(), 9u);
    EXPECT_TRUE(std::is_sorted(
        all.begin(), all.end(),
        [](const std::string& a, const std::string& b) { return String_t(a) < String_t(b); }));
    EXPECT_EQ(List(dir.Path(), Filter_t(String_t::Null)).size(), 9u);
    EXPECT_EQ(List(dir.Path(), NotXml()), (std::vector<std::string>{"c.txt"}));
    EXPECT_TRUE(List(dir.Path(), Filter_t(String_t(".none"))).empty());
    EXPECT_EQ(DirLister_t(String_t(dir.Path())).GetCount(), 9);
}

TEST(DirListerTest, MissingOrUnreadableDirectoryThrows) {
    TempDir dir;
    EXPECT_THROW(DirLister_t(String_t(dir / "missing"), Filter_t(String_t(".xml"))), IOException_t);
    qmsec_test::WriteFile(dir / "plain", "x");
    EXPECT_THROW(DirLister_t(String_t(dir / "plain"), Filter_t()), IOException_t);
    // A directory that cannot be opened, whoever asks: a link that leads to itself.
    ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
    EXPECT_THROW(DirLister_t(String_t(dir / "loop"), Filter_t()), IOException_t);
    EXPECT_EQ(DirLister_t(String_t(dir.Path())).GetCount(), dir.Names().size());
}

TEST(FileTest, DirCreateGivesParentsTheirModeAndNamesWhatFailed) {
    TempDir dir;
    qmsec_test::UmaskScope scope(0);
    using QmXplRuntime::Dir_t;
    EXPECT_TRUE(Dir_t::Create(String_t(dir / "p/q/ks"), 0700, 0711));
    EXPECT_EQ(qmsec_test::PermissionsOf(dir / "p/q/ks"), 0700);
    EXPECT_EQ(qmsec_test::PermissionsOf(dir / "p/q"), 0711);
    EXPECT_EQ(qmsec_test::PermissionsOf(dir / "p"), 0711);
    EXPECT_FALSE(Dir_t::Create(String_t(dir / "p/q/ks"), 0755));  // there already: kept
    EXPECT_EQ(qmsec_test::PermissionsOf(dir / "p/q/ks"), 0700);
    qmsec_test::WriteFile(dir / "file", "f");
    for (const std::string& path : {dir / "file/sub", dir / "file"}) {
        try {
            Dir_t::Create(String_t(path));
            ADD_FAILURE() << path;
        } catch (const IOException_t& e) {
            EXPECT_NE(
                e.GetMessageList().Format(QmXplMsg::kFormatOneLine).ToUtf8().find(dir / "file"),
                std::string::npos);
        }
    }
    EXPECT_THROW(Dir_t::Create(String_t(dir / "bad"), 010000), QmXplMsg::IllegalArgumentError_t);
}
