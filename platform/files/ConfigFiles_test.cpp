#include "platform/files/ConfigFiles.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testing/ChildRun.h"
#include "testing/SettingsHome.h"

namespace win::files {
namespace {

namespace fs = std::filesystem;

class ConfigFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Make("kurs-files"));
        dir_ = folder_.Path();
    }
    void TearDown() override { folder_.Remove(); }
    static std::string Text(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void Put(const fs::path& p, const std::string& text, mode_t mode) {
        std::ofstream(p, std::ios::binary) << text;
        ::chmod(p.c_str(), mode);
    }
    static unsigned ModeOf(const fs::path& p) {
        struct stat st;
        EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    }
    bool OnlyFileIs(const std::string& name) const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir_))
            n += e.path().filename() == name ? 1 : 100;
        return n == 1;
    }

    testing_support::TempFolder folder_;
    fs::path dir_;
};

// Restores one environment variable when it goes out of scope.
class EnvGuard {
  public:
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = std::getenv(name))
            old_ = v;
    }
    ~EnvGuard() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    void Set(const char* value) {
        if (value)
            ::setenv(name_, value, 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ConfigHome, TakesTheFirstAbsoluteSetting) {
    struct passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    const std::string fromPasswd = std::string(pw->pw_dir) + "/.config";
    const struct {
        const char* xdg;
        const char* home;
        std::string expected;
    } cases[] = {
        {"/x/conf", "/h", "/x/conf"},
        {"rel/conf", "/h", "/h/.config"},  // a relative setting is ignored
        {"", "/h", "/h/.config"},
        {nullptr, "/h", "/h/.config"},
        {nullptr, "h", fromPasswd},
        {nullptr, nullptr, fromPasswd},
    };
    EnvGuard xdg("XDG_CONFIG_HOME"), home("HOME");
    for (const auto& c : cases) {
        xdg.Set(c.xdg);
        home.Set(c.home);
        EXPECT_EQ(ConfigHome(), c.expected)
            << (c.xdg ? c.xdg : "(unset)") << " / " << (c.home ? c.home : "(unset)");
    }
}

TEST(DirOf, CutsAtTheLastSlash) {
    const struct {
        const char* path;
        const char* dir;
    } cases[] = {
        {"/a/b/c.ini", "/a/b"}, {"/c.ini", "/"}, {"c.ini", "."}, {"a/c.ini", "a"}, {"/a/", "/a"}};
    for (const auto& c : cases)
        EXPECT_EQ(DirOf(c.path), c.dir) << c.path;
}

TEST_F(ConfigFiles, MakeDirsCreatesTheChainAndRefusesAFileInTheWay) {
    const fs::path deep = dir_ / "a" / "b" / "c";
    EXPECT_TRUE(MakeDirs(deep.string()));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(ModeOf(dir_ / "a") & 077, 0u);
    EXPECT_TRUE(MakeDirs(deep.string()));  // already there

    Put(dir_ / "file", "x", 0600);
    EXPECT_FALSE(MakeDirs((dir_ / "file").string()));
    EXPECT_FALSE(MakeDirs((dir_ / "file" / "sub").string()));
}

TEST_F(ConfigFiles, ReadFileTellsMissingFromUnreadable) {
    std::string text = "old";
    EXPECT_EQ(ReadFile((dir_ / "none").string(), text), ENOENT);
    EXPECT_EQ(text, "");
    EXPECT_EQ(ReadFile(dir_.string(), text), EISDIR);
    const std::string big(200000, 'z');  // more than one read
    Put(dir_ / "big", big, 0600);
    EXPECT_EQ(ReadFile((dir_ / "big").string(), text), 0);
    EXPECT_EQ(text, big);
}

TEST_F(ConfigFiles, ReadFileNeitherWaitsOnAFifoNorReadsADevice) {
    const auto fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A read that waited for a writer would be ended by this one after 5 s,
    // so that the test fails instead of hanging.
    std::mutex lock;
    std::condition_variable changed;
    bool returned = false;
    std::thread writer([&] {
        std::unique_lock l(lock);
        if (!changed.wait_for(l, std::chrono::seconds(5), [&] { return returned; })) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    std::string text = "old";
    const int fifoError = ReadFile(fifo.string(), text);
    {
        std::lock_guard l(lock);
        returned = true;
    }
    changed.notify_all();
    writer.join();
    EXPECT_EQ(fifoError, kNotRegularFile);
    EXPECT_EQ(ReadFile("/dev/null", text), kNotRegularFile);
    EXPECT_EQ(ReadErrorText(kNotRegularFile), "not a regular file");
    EXPECT_EQ(ReadErrorText(EACCES), std::strerror(EACCES));
}

TEST_F(ConfigFiles, ReplaceFileKeepsTheOldModeAndGivesANewFileItsOwn) {
    const mode_t oldMask = ::umask(027);
    const struct {
        FileMode mode;
        int before;  // -1: no file yet
        unsigned after;
    } cases[] = {
        {FileMode::Private, -1, 0600},     {FileMode::Private, 0644, 0644},
        {FileMode::Private, 0604, 0604},  // even bits the umask would drop
        {FileMode::Shared, -1, 0640},     // 0666 less the umask
        {FileMode::Shared, 0604, 0604},    {FileMode::Shared, 0600, 0600},
        {FileMode::Private, 02640, 02640},
    };
    for (const auto& c : cases) {
        const fs::path file = dir_ / "f.ini";
        fs::remove(file);
        if (c.before >= 0)
            Put(file, "old", static_cast<mode_t>(c.before));
        EXPECT_TRUE(ReplaceFile(file.string(), "new\n", c.mode));
        EXPECT_EQ(Text(file), "new\n");
        EXPECT_EQ(ModeOf(file), c.after) << static_cast<int>(c.mode) << " " << c.before;
        EXPECT_TRUE(OnlyFileIs("f.ini"));
    }
    ::umask(oldMask);
}

TEST_F(ConfigFiles, ReplaceFileKeepsTheOwnerWhenItMay) {
    const fs::path file = dir_ / "f.reg";
    Put(file, "old", 0640);
    if (!testing_support::GiveToNobody(file))
        GTEST_SKIP() << "giving a file away needs root and the user nobody";
    struct stat before, after;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    EXPECT_TRUE(ReplaceFile(file.string(), "new", FileMode::Private));
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino);
}

TEST_F(ConfigFiles, ReadOnlyFilesAndByteOrderMarks) {
    Put(dir_ / "ro", "x", 0444);
    Put(dir_ / "none-writable", "x", 0550);
    Put(dir_ / "rw", "x", 0644);
    Put(dir_ / "owner-writes", "x", 0200);
    EXPECT_TRUE(ReadOnlyFile((dir_ / "ro").string()));  // also for root
    EXPECT_TRUE(ReadOnlyFile((dir_ / "none-writable").string()));
    EXPECT_FALSE(ReadOnlyFile((dir_ / "rw").string()));
    EXPECT_FALSE(ReadOnlyFile((dir_ / "owner-writes").string()));
    EXPECT_FALSE(ReadOnlyFile((dir_ / "missing").string()));

    // Another user's file that only its owner may write.
    ::chmod(dir_.c_str(), 0755);
    const auto run = testing_support::RunAsNobody([&] {
        return ReadOnlyFile((dir_ / "rw").string()) && ReadOnlyFile((dir_ / "ro").string()) ? 0 : 1;
    });
    if (run.problem.empty()) {
        EXPECT_EQ(run.status, 0) << run.err;
    }

    const struct {
        std::string_view text, rest;
        bool had;
    } marks[] = {{"\xEF\xBB\xBFREGEDIT4", "REGEDIT4", true},
                 {"REGEDIT4", "REGEDIT4", false},
                 {"\xEF\xBB", "\xEF\xBB", false},
                 {"", "", false},
                 {"\xEF\xBB\xBF", "", true}};
    for (const auto& m : marks) {
        std::string_view text = m.text;
        EXPECT_EQ(StripByteOrderMark(text), m.had) << m.text;
        EXPECT_EQ(text, m.rest);
    }
}

TEST_F(ConfigFiles, ReplaceFileOverwritesAStaleTemporaryOfThisProcess) {
    const fs::path file = dir_ / "f.reg";
    Put(fs::path(file.string() + ".tmp-" + std::to_string(::getpid())), "stale", 0400);
    EXPECT_TRUE(ReplaceFile(file.string(), "new", FileMode::Private));
    EXPECT_EQ(Text(file), "new");
    EXPECT_TRUE(OnlyFileIs("f.reg"));
}

TEST_F(ConfigFiles, AFailedReplaceLeavesNoTemporaryAndSaysWhy) {
    // A folder where the file should be: the rename fails at the very end.
    fs::create_directory(dir_ / "f.reg");
    std::string why;
    EXPECT_FALSE(ReplaceFile((dir_ / "f.reg").string(), "new", FileMode::Private, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(fs::is_directory(dir_ / "f.reg"));
    EXPECT_TRUE(OnlyFileIs("f.reg"));
    // No folder at all: the temporary cannot be made; no message is asked for.
    EXPECT_FALSE(ReplaceFile((dir_ / "none" / "f.ini").string(), "new", FileMode::Shared));
    why.clear();
    EXPECT_FALSE(ReplaceFile((dir_ / "none" / "f.ini").string(), "new", FileMode::Shared, &why));
    EXPECT_FALSE(why.empty());
}

TEST_F(ConfigFiles, AFailureAfterAnyStepLeavesOneWholeFileAndNoTemporaryAndSaysWhy) {
    const ReplaceStep steps[] = {ReplaceStep::Create, ReplaceStep::KeepMode, ReplaceStep::Write,
                                 ReplaceStep::Sync,   ReplaceStep::Close,    ReplaceStep::Rename};
    const fs::path file = dir_ / "f.reg";
    // A replace without faults passes every step once, in order.
    std::vector<ReplaceStep> passed;
    SetReplaceFaultHook([&](ReplaceStep step) {
        passed.push_back(step);
        return 0;
    });
    Put(file, "old", 0640);
    EXPECT_TRUE(ReplaceFile(file.string(), "new", FileMode::Private));
    SetReplaceFaultHook(nullptr);
    EXPECT_EQ(passed, std::vector<ReplaceStep>(std::begin(steps), std::end(steps)));

    for (const ReplaceStep failing : steps) {
        for (const bool existed : {true, false}) {
            if (failing == ReplaceStep::KeepMode && !existed)
                continue;  // a new file has no mode to keep
            SCOPED_TRACE(testing::Message() << "step " << static_cast<int>(failing)
                                            << (existed ? ", file existed" : ", new file"));
            fs::remove(file);
            if (existed)
                Put(file, "old", 0640);
            std::string why;
            SetReplaceFaultHook([&](ReplaceStep step) { return step == failing ? EIO : 0; });
            EXPECT_FALSE(ReplaceFile(file.string(), "new", FileMode::Private, &why));
            SetReplaceFaultHook(nullptr);
            EXPECT_EQ(why, std::strerror(EIO));
            // Up to the rename the old file stands; after it the new one,
            // whole.  Either way with the old file's mode.
            if (failing == ReplaceStep::Rename)
                EXPECT_EQ(Text(file), "new");
            else if (existed)
                EXPECT_EQ(Text(file), "old");
            else
                EXPECT_FALSE(fs::exists(file));
            if (fs::exists(file)) {
                EXPECT_EQ(ModeOf(file), existed ? 0640u : 0600u);
                EXPECT_TRUE(OnlyFileIs("f.reg"));
            } else {
                EXPECT_TRUE(fs::is_empty(dir_));
            }
            // Nothing is left in the way of the next replace.
            EXPECT_TRUE(ReplaceFile(file.string(), "next", FileMode::Private));
            EXPECT_EQ(Text(file), "next");
            EXPECT_TRUE(OnlyFileIs("f.reg"));
        }
    }
}

}  // namespace
}  // namespace win::files
