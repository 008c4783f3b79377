#include "platform/profile/Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testing/ChildRun.h"
#include "testing/SettingsHome.h"

namespace win {
namespace {

namespace fs = std::filesystem;

class Profile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(home.Make("kurs-profile"));
        home_ = home.Path();
        windows_ = home.WindowsFolder();
    }
    void TearDown() override { home.Remove(); }

    void Put(const std::string& name, const std::string& text) {
        fs::create_directories(windows_);
        std::ofstream(windows_ / name, std::ios::binary) << text;
    }
    std::string Text(const std::string& name) const {
        std::ifstream in(windows_ / name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static std::string Read(const char* section, const char* key, const char* def = "<def>",
                            const char* file = "test.ini") {
        char buf[2048];
        const DWORD n = GetPrivateProfileStringA(section, key, def, buf, sizeof buf, file);
        EXPECT_EQ(n, std::strlen(buf));
        return std::string(buf, n);
    }

    testing_support::SettingsHome home;
    fs::path home_, windows_;
};

TEST_F(Profile, StripsOneEnclosingPairOfQuotes) {
    const struct {
        const char* stored;
        const char* read;
    } cases[] = {
        {"\"abc\"", "abc"},
        {"'abc'", "abc"},
        {"\"\"abc\"\"", "\"abc\""},
        {"\"'abc'\"", "'abc'"},
        {"\"abc", "\"abc"},
        {"abc\"", "abc\""},
        {"'abc\"", "'abc\""},
        {"\"", "\""},
        {"\"\"\"", "\""},
        {"''", ""},
        {"  spaced out \t", "spaced out"},
        {"\"  kept  \"", "  kept  "},
        {"a=b", "a=b"},
        {"", ""},
    };
    for (const auto& c : cases) {
        Put("test.ini", std::string("[S]\nkey=") + c.stored + "\n");
        EXPECT_EQ(Read("S", "key"), c.read) << c.stored;
    }
}

TEST_F(Profile, MissingThingsGiveTheDefault) {
    EXPECT_EQ(Read("S", "key", "fallback"), "fallback");  // no file
    Put("test.ini", "[S]\nother=1\nnovalue\n; key=comment\n[T]\nkey=2\n");
    EXPECT_EQ(Read("S", "key", "fallback"), "fallback");
    EXPECT_EQ(Read("S", "novalue", "fallback"), "fallback");
    EXPECT_EQ(Read("Missing", "key", "fallback"), "fallback");
    EXPECT_EQ(Read("S", "key", "trailing   "), "trailing");
    EXPECT_EQ(Read("S", "key", nullptr), "");
    EXPECT_EQ(Read("T", "key"), "2");
    EXPECT_EQ(Read("T", "key", "no file", ""), "no file");
}

TEST_F(Profile, NamesIgnoreCase) {
    Put("test.ini", "[TForm1]\nNormPos=1,2,3,4\n[\xD0\xE0\xE7\xE4\xE5\xEB]\n\xCA\xEB\xFE\xF7=v\n");
    EXPECT_EQ(Read("tform1", "NORMPOS"), "1,2,3,4");
    EXPECT_EQ(Read("\xF0\xC0\xC7\xC4\xC5\xCB", "\xEA\xCB\xDE\xD7"), "v");  // рАЗДЕЛ / кЛЮЧ
    ASSERT_TRUE(WritePrivateProfileStringA("TFORM1", "normpos", "5", "test.ini"));
    EXPECT_EQ(Text("test.ini"),
              "[TForm1]\nNormPos=5\n[\xD0\xE0\xE7\xE4\xE5\xEB]\n\xCA\xEB\xFE\xF7=v\n");
}

TEST_F(Profile, LongValuesAreCutToTheBuffer) {
    const std::string big(3000, 'x');
    ASSERT_TRUE(WritePrivateProfileStringA("S", "big", (big + "yz").c_str(), "test.ini"));
    char buf[2048];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetPrivateProfileStringA("S", "big", "", buf, sizeof buf, "test.ini"), 2047u);
    EXPECT_EQ(std::string(buf), std::string(2047, 'x'));

    ASSERT_TRUE(WritePrivateProfileStringA("S", "short", "abcdef", "test.ini"));
    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(GetPrivateProfileStringA("S", "short", "", small, 4, "test.ini"), 3u);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(small[4], '#');
    EXPECT_EQ(GetPrivateProfileStringA("S", "short", "", small, 1, "test.ini"), 0u);
    EXPECT_EQ(small[0], '\0');
    small[0] = '#';
    EXPECT_EQ(GetPrivateProfileStringA("S", "short", "", small, 0, "test.ini"), 0u);
    EXPECT_EQ(small[0], '#');
    EXPECT_EQ(GetPrivateProfileStringA("S", "nothing", "default", small, 4, "test.ini"), 3u);
    EXPECT_STREQ(small, "def");
    EXPECT_EQ(GetPrivateProfileStringA("S", "short", "", nullptr, 4, "test.ini"), 0u);
}

TEST_F(Profile, NullNamesListSectionsAndKeys) {
    Put("test.ini", "[One]\na=1\nB=2\n[Two]\nc=3\n[one]\nA=dup\nd=4\n");
    char buf[64];
    DWORD n = GetPrivateProfileStringA(nullptr, "ignored", "", buf, sizeof buf, "test.ini");
    EXPECT_EQ(std::string(buf, n), std::string("One\0Two\0", 8));
    EXPECT_EQ(buf[n], '\0');
    n = GetPrivateProfileStringA("ONE", nullptr, "", buf, sizeof buf, "test.ini");
    EXPECT_EQ(std::string(buf, n), std::string("a\0B\0d\0", 6));
    EXPECT_EQ(Read("one", "a"), "1");  // the first occurrence counts

    // A list that does not fit ends in two NULs.
    std::memset(buf, '#', sizeof buf);
    n = GetPrivateProfileStringA(nullptr, nullptr, "", buf, 6, "test.ini");
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buf, 6), std::string("One\0\0\0", 6));
    EXPECT_EQ(buf[6], '#');
    n = GetPrivateProfileStringA("Missing", nullptr, "x", buf, sizeof buf, "test.ini");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buf[0], '\0');
}

TEST_F(Profile, WritesPlaceValuesAndKeepTheRest) {
    ASSERT_TRUE(WritePrivateProfileStringA("First", "a", "1", "test.ini"));
    EXPECT_EQ(Text("test.ini"), "[First]\na=1\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Second", "b", "2", "test.ini"));
    ASSERT_TRUE(WritePrivateProfileStringA("First", "c", "3", "test.ini"));
    ASSERT_TRUE(WritePrivateProfileStringA("First", "a", "one", "test.ini"));
    EXPECT_EQ(Text("test.ini"), "[First]\na=one\nc=3\n\n[Second]\nb=2\n");

    ASSERT_TRUE(WritePrivateProfileStringA("First", "a", nullptr, "test.ini"));  // delete key
    EXPECT_EQ(Text("test.ini"), "[First]\nc=3\n\n[Second]\nb=2\n");
    ASSERT_TRUE(WritePrivateProfileStringA("First", nullptr, nullptr, "test.ini"));  // erase
    EXPECT_EQ(Text("test.ini"), "[Second]\nb=2\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Missing", nullptr, nullptr, "test.ini"));
    ASSERT_TRUE(WritePrivateProfileStringA("Second", "gone", nullptr, "test.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, "test.ini"));  // flush
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "v", "test.ini"));

    // Comments, unknown lines and CR LF endings survive.
    Put("dos.ini", "; settings\r\n[S]\r\nx=1\r\njunk line\r\n\r\n[T]\r\ny=2\r\n[S]\r\nz=9\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("S", "w", "new", "dos.ini"));
    EXPECT_EQ(Text("dos.ini"),
              "; settings\r\n[S]\r\nx=1\r\njunk line\r\nw=new\r\n\r\n[T]\r\ny=2\r\n[S]\r\nz=9\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("s", nullptr, nullptr, "dos.ini"));
    EXPECT_EQ(Text("dos.ini"), "; settings\r\n[T]\r\ny=2\r\n");
    for (const auto& e : fs::directory_iterator(windows_))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos);
}

TEST_F(Profile, StrayCarriageReturnsBeforeALineEndAreNotPartOfTheLine) {
    // A written file ends each line in LF or CR LF only, so a value read
    // with a CR at its end would lose it at the next write of any section.
    const struct {
        const char* text;
        const char* value;
    } cases[] = {
        {"[A]\nk=v\r\r\n[B]\nx=1\n", "v"},
        {"[A]\r\nk=v\r\r\r\n", "v"},
        {"[A]\nk=\r\n", ""},
        {"[A]\nk=v \r\r", "v"},
        {"[A]\nk=a\rb\r\n", "a\rb"},
    };
    for (const auto& c : cases) {
        Put("test.ini", c.text);
        EXPECT_EQ(Read("A", "k"), c.value) << c.text;
        ASSERT_TRUE(WritePrivateProfileStringA("C", "n", "1", "test.ini"));
        EXPECT_EQ(Read("A", "k"), c.value) << c.text;
    }
}

TEST_F(Profile, RefusesWhatTheFileCouldNotHold) {
    Put("test.ini", "[S]\nk=1\n");
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "two\nlines", "test.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k=v", "x", "test.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "[k", "x", "test.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", ";k", "x", "test.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S]x", "k", "x", "test.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S\r", "k", "x", "test.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "x", ""));
    EXPECT_EQ(Text("test.ini"), "[S]\nk=1\n");
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "x", "/nonexistent-folder/x.ini"));
}

TEST_F(Profile, PathsAreUsedAsGivenAndFilesKeepTheirMode) {
    const fs::path own = home_ / "own.ini";
    ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "v", own.c_str()));
    EXPECT_TRUE(fs::exists(own));
    EXPECT_FALSE(fs::exists(windows_ / "own.ini"));
    EXPECT_EQ(Read("S", "k", "", own.c_str()), "v");

    ::chmod(own.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "w", own.c_str()));
    struct stat st;
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A symbolic link stays a link; the file it names changes.
    const fs::path link = home_ / "link.ini";
    fs::create_symlink(own, link);
    ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "via link", link.c_str()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read("S", "k", "", own.c_str()), "via link");

    char dir[512];
    const UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    EXPECT_EQ(std::string(dir, n), windows_.string());
    EXPECT_EQ(GetWindowsDirectoryA(dir, 3), n + 1);
    EXPECT_EQ(ProfileFilePath("a.ini"), (windows_ / "a.ini").string());
    EXPECT_EQ(ProfileFilePath(nullptr), (windows_ / "win.ini").string());
}

TEST_F(Profile, ReadOnlyAndUnreadableFilesAreNotWrittenAndAMarkIsSkipped) {
    Put("mark.ini", "\xEF\xBB\xBF[S]\r\nk=1\r\n");
    EXPECT_EQ(Read("S", "k", "", "mark.ini"), "1");
    ASSERT_TRUE(WritePrivateProfileStringA("S", "m", "2", "mark.ini"));
    EXPECT_EQ(Text("mark.ini"), "\xEF\xBB\xBF[S]\r\nk=1\r\nm=2\r\n");

    Put("ro.ini", "[S]\nk=1\n");
    ::chmod((windows_ / "ro.ini").c_str(), 0444);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "2", "ro.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", nullptr, nullptr, "ro.ini"));
    EXPECT_EQ(Text("ro.ini"), "[S]\nk=1\n");
    EXPECT_EQ(Read("S", "k", "", "ro.ini"), "1");

    // A FIFO is not a file to wait on: it reads as empty and is left alone.
    ASSERT_EQ(::mkfifo((windows_ / "fifo.ini").c_str(), 0600), 0);
    EXPECT_EQ(Read("S", "k", "def", "fifo.ini"), "def");
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "2", "fifo.ini"));
    struct stat st {};
    EXPECT_EQ(::lstat((windows_ / "fifo.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // As another user: a file that user cannot read reads as empty and is
    // left alone; one that user may read but not write is not replaced.
    Put("secret.ini", "[S]\nk=1\n");
    ::chmod((windows_ / "secret.ini").c_str(), 0600);
    Put("theirs.ini", "[S]\nk=1\n");
    ::chmod((windows_ / "theirs.ini").c_str(), 0644);
    if (!testing_support::GiveToNobody(home_))
        GTEST_SKIP() << "acting as another user needs root and the user nobody";
    // The files stay root's, so that to nobody they are another user's.
    ASSERT_EQ(::chown((windows_ / "secret.ini").c_str(), 0, 0), 0) << std::strerror(errno);
    ASSERT_EQ(::chown((windows_ / "theirs.ini").c_str(), 0, 0), 0) << std::strerror(errno);
    const auto run = testing_support::RunAsNobody([] {
        if (Read("S", "k", "def", "secret.ini") != "def")
            return 1;
        if (WritePrivateProfileStringA("S", "k", "2", "secret.ini"))
            return 2;
        if (Read("S", "k", "", "theirs.ini") != "1")
            return 3;
        if (WritePrivateProfileStringA("S", "k", "2", "theirs.ini"))
            return 4;
        return 0;
    });
    ASSERT_EQ(run.problem, "");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Text("secret.ini"), "[S]\nk=1\n");
    EXPECT_EQ(Text("theirs.ini"), "[S]\nk=1\n");
}

TEST_F(Profile, TwoProgramsWritingOneFileBothKeepTheirKeys) {
    constexpr int kKeys = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int i = 0; i < kKeys; ++i) {
                const std::string key = (c ? "b" : "a") + std::to_string(i);
                if (!WritePrivateProfileStringA("S", key.c_str(), "v", "shared.ini"))
                    _exit(2);
            }
            _exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int i = 0; i < kKeys; ++i) {
        EXPECT_EQ(Read("S", ("a" + std::to_string(i)).c_str(), "", "shared.ini"), "v") << i;
        EXPECT_EQ(Read("S", ("b" + std::to_string(i)).c_str(), "", "shared.ini"), "v") << i;
    }
}

}  // namespace
}  // namespace win
