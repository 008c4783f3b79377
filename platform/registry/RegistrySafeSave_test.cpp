// Files the store must not replace or damage: unreadable and read-only files,
// saves that cannot be made, kills in the middle of a save, two programs
// saving at once.

#include "platform/registry/RegistryTestFixture.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/Trace.h"
#include "platform/files/ConfigFiles.h"
#include "platform/registry/RegistryFile.h"
#include "testing/ChildRun.h"

namespace win {
namespace {

using namespace registry_test;

// ---- files that must not be replaced ------------------------------------------------------

constexpr const char* kStored =
    "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\kurs\\TForm1]\n\"edtServer_Text\"=\"10.0.0.7\"\n\n";

struct FileState {
    std::string text;
    struct stat st {};
};

FileState StateOf(const fs::path& p) {
    FileState s;
    ::lstat(p.c_str(), &s.st);
    if (!S_ISFIFO(s.st.st_mode))  // which would wait for a writer
        s.text = ReadText(p);
    return s;
}

bool Same(const FileState& a, const FileState& b) {
    return a.text == b.text && a.st.st_ino == b.st.st_ino && a.st.st_mode == b.st.st_mode &&
           a.st.st_uid == b.st.st_uid && a.st.st_mtim.tv_nsec == b.st.st_mtim.tv_nsec &&
           a.st.st_mtim.tv_sec == b.st.st_mtim.tv_sec;
}

// What a program does from start to close: reads its settings, makes its
// key (a save when it was missing), and saves its values at the close and
// once more as it ends.  Returns the first step that went wrong (0: every
// save went as `canSave` says).
int StartAndClose(bool canSave, RegistryFileProblem::Kind problem) {
    HKEY k = nullptr;
    const LONG read = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\kurs\\TForm1", 0, KEY_READ, &k);
    if (read == ERROR_SUCCESS)
        RegCloseKey(k);
    if (problem == RegistryFileProblem::Unreadable && read != ERROR_FILE_NOT_FOUND)
        return 1;  // an unreadable store reads as empty
    const LONG expected = canSave ? ERROR_SUCCESS : ERROR_CANTWRITE;
    const LONG made = RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\kurs"));
    if (made != expected && made != ERROR_SUCCESS)
        return 2;
    for (const char* value : {"30", "40"}) {
        k = Create(HKEY_CURRENT_USER, "Software\\kurs\\TForm1");
        if (SetString(k, "edtTimeOut_Text", value) != ERROR_SUCCESS)
            return 3;
        if (RegCloseKey(k) != expected)
            return 4;
    }
    if (RegistryProblem(HKEY_CURRENT_USER).kind != problem)
        return 5;
    if (problem != RegistryFileProblem::None &&
        !RegistryProblem(HKEY_CURRENT_USER).file.ends_with("/HKEY_CURRENT_USER.reg"))
        return 6;
    return 0;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST_F(Registry, AFileThatCannotBeReadIsLeftAloneAndToldOnce) {
    const struct {
        const char* name;
        bool asNobody;
        std::function<void(const fs::path&)> make;
    } cases[] = {
        {"a folder in its place", false,
         [](const fs::path& f) {
             fs::create_directories(f);
             WriteText(f / "inside", "x");
         }},
        {"a FIFO in its place", false, [](const fs::path& f) { ::mkfifo(f.c_str(), 0600); }},
        {"mode 000, own file", true,
         [](const fs::path& f) {
             WriteText(f, kStored);
             testing_support::GiveToNobody(f);
             ::chmod(f.c_str(), 0);
         }},
        {"another user's private file", true,
         [](const fs::path& f) {
             WriteText(f, kStored);
             ::chmod(f.c_str(), 0600);  // root's
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home_);
        fs::create_directories(dir_);
        if (c.asNobody && !testing_support::GiveToNobody(home_)) {
            std::printf("skipped \"%s\": needs root and the user nobody\n", c.name);
            continue;
        }
        c.make(file_);
        const FileState before = StateOf(file_);
        const auto run = testing_support::RunInChild(
            [] { return StartAndClose(false, RegistryFileProblem::Unreadable); }, c.asNobody);
        if (!run.problem.empty()) {
            std::printf("skipped \"%s\": %s\n", c.name, run.problem.c_str());
            continue;
        }
        EXPECT_EQ(run.status, 0) << run.err;
        // Said once, for the reading and both saves together.
        EXPECT_EQ(Count(run.err, "\n"), 1u) << run.err;
        EXPECT_NE(run.err.find("HKEY_CURRENT_USER.reg cannot be read ("), std::string::npos)
            << run.err;
        if (S_ISFIFO(before.st.st_mode)) {
            EXPECT_NE(run.err.find("(not a regular file)"), std::string::npos) << run.err;
        }
        EXPECT_NE(run.err.find("runs with default settings and cannot save them"),
                  std::string::npos)
            << run.err;
        EXPECT_TRUE(Same(StateOf(file_), before));
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            EXPECT_TRUE(name == "HKEY_CURRENT_USER.reg" || name == "HKEY_CURRENT_USER.reg.lock")
                << name;
        }
    }
}

TEST_F(Registry, AReadOnlyFileIsNotReplacedAndAWritableOneKeepsItsMode) {
    fs::create_directories(dir_);
    WriteText(file_, kStored);
    ::chmod(file_.c_str(), 0444);
    const FileState before = StateOf(file_);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(StartAndClose(false, RegistryFileProblem::ReadOnly), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(err, "\n"), 1u) << err;
    EXPECT_NE(err.find("HKEY_CURRENT_USER.reg is read-only; settings were not saved"),
              std::string::npos)
        << err;
    EXPECT_TRUE(Same(StateOf(file_), before));

    // Made writable again: what was kept in memory is saved, with the
    // file's own mode and its other values.
    for (unsigned mode : {0640u, 0604u, 0600u}) {
        ::chmod(file_.c_str(), mode);
        HKEY k = Create(HKEY_CURRENT_USER, "Software\\kurs\\TForm1");
        SetString(k, "Mode", std::to_string(mode));
        EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
        EXPECT_EQ(RegistryProblem(HKEY_CURRENT_USER).kind, RegistryFileProblem::None);
        struct stat st;
        ASSERT_EQ(::stat(file_.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        const std::string text = FileText();
        EXPECT_NE(text.find("\"edtServer_Text\"=\"10.0.0.7\""), std::string::npos) << text;
        EXPECT_NE(text.find("\"edtTimeOut_Text\"=\"40\""), std::string::npos) << text;
    }

    // Another user's file that this user may read but not write.
    ::chmod(file_.c_str(), 0644);
    if (!testing_support::GiveToNobody(home_) || ::chown(file_.c_str(), 0, 0) != 0)
        GTEST_SKIP() << "acting as another user needs root and the user nobody";
    const FileState theirs = StateOf(file_);
    const auto run = testing_support::RunAsNobody(
        [] { return StartAndClose(false, RegistryFileProblem::ReadOnly); });
    if (run.problem.empty()) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Count(run.err, "\n"), 1u) << run.err;
        EXPECT_TRUE(Same(StateOf(file_), theirs));
    }
}

TEST_F(Registry, ChangesThatCouldNotBeSavedStayWithTheirFile) {
    fs::create_directories(dir_);
    WriteText(file_, kStored);
    ::chmod(file_.c_str(), 0444);
    ::testing::internal::CaptureStderr();
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\kurs\\TForm1");
    SetString(k, "edtServer_Text", "kept in memory");
    EXPECT_EQ(RegCloseKey(k), ERROR_CANTWRITE);
    ::testing::internal::GetCapturedStderr();

    // Another configuration folder: its file is read as it is and saved
    // without the other file's pending change.
    const fs::path other = home_ / "other";
    fs::create_directories(other / "kurs" / "registry");
    WriteText(other / "kurs" / "registry" / "HKEY_CURRENT_USER.reg", kStored);
    ::setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    k = Create(HKEY_CURRENT_USER, "Software\\kurs\\TForm1");
    EXPECT_EQ(GetString(k, "edtServer_Text"), "10.0.0.7");
    SetString(k, "Other", "1");
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    EXPECT_EQ(ReadText(other / "kurs" / "registry" / "HKEY_CURRENT_USER.reg").find("memory"),
              std::string::npos);
    EXPECT_EQ(RegistryProblem(HKEY_CURRENT_USER).kind, RegistryFileProblem::None);
}

TEST_F(Registry, TheTraceShowsEachCallWithItsNamesAndResultAndEachFileEvent) {
    const unsigned before = trace::EnabledChannels();
    trace::SetEnabledChannels(trace::ParseChannels("registry"));
    ::testing::internal::CaptureStderr();
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\kurs\\TForm1");
    SetString(k, "edtServer_Text", "10.0.0.7");
    EXPECT_EQ(GetString(k, "edtServer_Text"), "10.0.0.7");
    EXPECT_EQ(GetString(k, "Missing"), "<none>");
    RegCloseKey(k);
    ReplaceFileContent("not a registry file\n");
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\kurs", 0, KEY_READ, &k),
              ERROR_FILE_NOT_FOUND);
    const std::string traced = ::testing::internal::GetCapturedStderr();
    trace::SetEnabledChannels(0);
    ::testing::internal::CaptureStderr();
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\kurs"));
    const std::string quiet = ::testing::internal::GetCapturedStderr();
    trace::SetEnabledChannels(before);

    const std::string key = "HKEY_CURRENT_USER\\Software\\kurs\\TForm1";
    const std::string file = file_.string();
    const std::string lines[] = {
        "registry: no file " + file + "\n",
        "registry: RegCreateKeyEx HKEY_CURRENT_USER + \"Software\\kurs\\TForm1\" -> ERROR_SUCCESS "
        "(0): " +
            key + "\n",
        "registry: RegSetValueEx " + key +
            " \"edtServer_Text\" type 1, 9 bytes -> ERROR_SUCCESS (0)\n",
        "registry: RegQueryValueEx " + key + " \"edtServer_Text\" -> ERROR_SUCCESS (0), 9 bytes\n",
        "registry: RegQueryValueEx " + key + " \"Missing\" -> ERROR_FILE_NOT_FOUND (2)\n",
        "registry: wrote " + file + " (",
        "registry: RegCloseKey " + key + " -> ERROR_SUCCESS (0)\n",
        "registry: read " + file + " (20 bytes)\n",
        "registry: moved " + file + " aside as " + file + ".corrupt-",
        "registry: RegOpenKeyEx HKEY_CURRENT_USER + \"Software\\kurs\" -> ERROR_FILE_NOT_FOUND "
        "(2)\n",
    };
    for (const std::string& line : lines)
        EXPECT_NE(traced.find(line), std::string::npos) << line << "\nin:\n" << traced;
    EXPECT_EQ(quiet.find("registry:"), std::string::npos) << quiet;
}

TEST_F(Registry, AFileWithAByteOrderMarkIsReadNormally) {
    for (const char* eol : {"\n", "\r\n"}) {
        std::string text = std::string("\xEF\xBB\xBF") + kStored;
        if (std::string(eol) == "\r\n")
            for (auto at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
                text.replace(at, 1, "\r\n");
        ReplaceFileContent(text);
        ::testing::internal::CaptureStderr();
        HKEY k = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\kurs\\TForm1", 0, KEY_READ, &k),
                  ERROR_SUCCESS);
        EXPECT_EQ(GetString(k, "edtServer_Text"), "10.0.0.7");
        RegCloseKey(k);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(fs::exists(file_));
    }
}

TEST_F(Registry, ASaveThatCannotBeMadeIsToldOnce) {
    const struct {
        const char* name;
        bool asNobody;
        std::function<void()> prepare;  // in the child
    } cases[] = {
        {"no folder can be made", false,
         [this] { WriteText(home_ / "kurs", "a file where the folder should be"); }},
        {"a full disk", false,
         [] {
             ::signal(SIGXFSZ, SIG_IGN);
             rlimit limit{16, 16};  // bytes per file
             ::setrlimit(RLIMIT_FSIZE, &limit);
         }},
        {"a read-only folder", true, [] {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home_);
        fs::create_directories(home_);
        if (c.asNobody) {
            if (!testing_support::GiveToNobody(home_)) {
                std::printf("skipped \"%s\": needs root and the user nobody\n", c.name);
                continue;
            }
            ::chmod(home_.c_str(), 0555);
        }
        const auto run = testing_support::RunInChild(
            [&] {
                c.prepare();
                return StartAndClose(false, RegistryFileProblem::NotSaved);
            },
            c.asNobody);
        if (!run.problem.empty()) {
            std::printf("skipped \"%s\": %s\n", c.name, run.problem.c_str());
            continue;
        }
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Count(run.err, "\n"), 1u) << run.err;
        EXPECT_NE(run.err.find("could not be saved ("), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(file_));
        ::chmod(home_.c_str(), 0700);
    }
    // Where saving works the problem is gone.
    fs::remove_all(home_);
    EXPECT_EQ(StartAndClose(true, RegistryFileProblem::None), 0);
}

// Reads a root file the way a fresh program would; fails the test when it
// does not parse.
regfile::Key ParseFile(const fs::path& file) {
    regfile::Key root;
    std::string error;
    const std::string text = ReadText(file);
    EXPECT_TRUE(regfile::Parse(text, "HKEY_CURRENT_USER", root, &error)) << error << "\n" << text;
    return root;
}

constexpr int kCrashValues = 300;

// Child side: writes generation after generation of all values until killed.
[[noreturn]] void SaveGenerationsForever(int firstGeneration) {
    for (int gen = firstGeneration;; ++gen) {
        HKEY k = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Crash", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k, nullptr) != ERROR_SUCCESS)
            _exit(2);
        const std::string text = std::to_string(gen);
        for (int i = 0; i < kCrashValues; ++i)
            SetString(k, ("v" + std::to_string(i)).c_str(), text);
        if (RegCloseKey(k) != ERROR_SUCCESS)
            _exit(3);
    }
}

// The generation all values of the file hold, or -1 when they disagree.
int GenerationOf(const regfile::Key& root) {
    const regfile::Key* k =
        root.Subkey("Software") ? root.Subkey("Software")->Subkey("Crash") : nullptr;
    if (!k || k->values.size() != static_cast<std::size_t>(kCrashValues))
        return -1;
    const std::string first = k->values[0].data;
    for (const auto& v : k->values)
        if (v.data != first)
            return -1;
    return std::atoi(first.c_str());
}

TEST_F(Registry, AKillMidSaveLeavesTheOldOrTheNewFile) {
    // The kills are spread over a few save times from the child's start.
    const auto start = std::chrono::steady_clock::now();
    {
        HKEY k = Create(HKEY_CURRENT_USER, "Software\\Crash");
        for (int i = 0; i < kCrashValues; ++i)
            SetString(k, ("v" + std::to_string(i)).c_str(), "0");
        RegCloseKey(k);
    }
    const auto saveUs = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    std::mt19937 rng(12345);
    std::uniform_int_distribution<long> delayUs(0, 4 * std::min<long>(saveUs, 25000) + 2000);
    int generation = 0, advanced = 0;
    constexpr int kKills = 220;
    for (int round = 0; round < kKills; ++round) {
        int started[2];
        ASSERT_EQ(::pipe(started), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(started[0]);
            ::close(started[1]);  // tells the parent the child runs
            SaveGenerationsForever(generation + 1);
        }
        ::close(started[1]);
        char byte;
        ASSERT_EQ(::read(started[0], &byte, 1), 0);
        ::close(started[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child ended on its own: " << status;

        const int now = GenerationOf(ParseFile(file_));
        ASSERT_GE(now, generation) << "round " << round;
        if (now > generation)
            ++advanced;
        generation = now;
    }
    EXPECT_GT(advanced, 0);  // some kills landed after at least one whole save
    std::printf("save of %d values: %ld us; %d of %d kills after a new generation\n", kCrashValues,
                static_cast<long>(saveUs), advanced, kKills);

    // The next save clears what the killed children left behind.
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\Crash");
    EXPECT_EQ(GetString(k, "v0"), std::to_string(generation));
    SetString(k, "after", "1");
    RegCloseKey(k);
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

TEST_F(Registry, ASaveThatFailsAfterAnyStepKeepsAWholeFileAndTheChanges) {
    const files::ReplaceStep steps[] = {files::ReplaceStep::Create, files::ReplaceStep::KeepMode,
                                        files::ReplaceStep::Write,  files::ReplaceStep::Sync,
                                        files::ReplaceStep::Close,  files::ReplaceStep::Rename};
    for (const files::ReplaceStep failing : steps) {
        const std::string label = "step " + std::to_string(static_cast<int>(failing));
        SCOPED_TRACE(label);
        HKEY k = Create(HKEY_CURRENT_USER, "Software\\Steps");
        SetString(k, "Value", "old");
        ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);
        const std::string before = FileText();

        k = Create(HKEY_CURRENT_USER, "Software\\Steps");
        SetString(k, "Value", label);
        files::SetReplaceFaultHook(
            [&](files::ReplaceStep step) { return step == failing ? EIO : 0; });
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RegCloseKey(k), ERROR_CANTWRITE);
        const std::string told = ::testing::internal::GetCapturedStderr();
        files::SetReplaceFaultHook(nullptr);
        EXPECT_NE(told.find("could not be saved"), std::string::npos) << told;
        EXPECT_EQ(RegistryProblem(HKEY_CURRENT_USER).kind, RegistryFileProblem::NotSaved);
        EXPECT_EQ(RegistryProblem(HKEY_CURRENT_USER).reason, std::strerror(EIO));
        // The old file, or after the rename the new one whole.
        if (failing == files::ReplaceStep::Rename)
            EXPECT_NE(FileText().find(label), std::string::npos);
        else
            EXPECT_EQ(FileText(), before);
        ParseFile(file_);
        for (const auto& e : fs::directory_iterator(dir_))
            EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();

        // The change stayed in memory; the next save writes it.
        k = Create(HKEY_CURRENT_USER, "Software\\Steps");
        EXPECT_EQ(GetString(k, "Value"), label);
        EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
        EXPECT_EQ(RegistryProblem(HKEY_CURRENT_USER).kind, RegistryFileProblem::None);
        EXPECT_NE(FileText().find(label), std::string::npos);
    }
}

TEST_F(Registry, TwoProgramsSavingAtOnceBothKeepTheirValues) {
    constexpr int kRounds = 60;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            ::close(go[1]);
            char byte;
            if (::read(go[0], &byte, 1) != 0)
                _exit(4);  // wait for the start
            const std::string tag = c == 0 ? "A" : "B";
            for (int i = 0; i < kRounds; ++i) {
                HKEY k = nullptr;
                if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Both", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
                    _exit(2);
                SetString(k, (tag + std::to_string(i)).c_str(), tag + " value");
                SetString(k, ("Last" + tag).c_str(), std::to_string(i));
                if (RegCloseKey(k) != ERROR_SUCCESS)
                    _exit(3);
            }
            _exit(0);
        }
    }
    ::close(go[0]);
    ::close(go[1]);  // both start now
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const regfile::Key root = ParseFile(file_);
    const regfile::Key* k = root.Subkey("Software")->Subkey("Both");
    ASSERT_NE(k, nullptr);
    for (const char* tag : {"A", "B"}) {
        for (int i = 0; i < kRounds; ++i) {
            const regfile::Value* v = k->FindValue(tag + std::to_string(i));
            ASSERT_NE(v, nullptr) << tag << i;
            EXPECT_EQ(v->data, std::string(tag) + " value" + '\0');
        }
        EXPECT_EQ(k->FindValue(std::string("Last") + tag)->data,
                  std::to_string(kRounds - 1) + '\0');
    }
}

}  // namespace
}  // namespace win
