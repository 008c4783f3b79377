#include "tools/rates-server/upstream/DocumentCache.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/rates-server/upstream/Upstream.h"
#include "tools/rates-server/upstream/tests/BankStub.h"
#include "tools/rates-server/upstream/tests/TestSupport.h"

namespace rates {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using test::TempDir;
using test::TestFile;

// 18.03.2026 at hh:mm in Moscow.
WallClock::time_point Moscow(int day, int hour, int minute = 0) {
    return sys_days{year{2026} / March / day} + hours(hour - 3) + minutes(minute);
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DocumentCache, MoscowDateAndFreshness) {
    // Moscow is UTC+3: 20:59 UTC is still the 18th, 21:00 is the 19th.
    EXPECT_EQ(MoscowDateAt(sys_days{2026y / 3 / 18} + hours(20) + minutes(59)),
              (Date{2026, 3, 18}));
    EXPECT_EQ(MoscowDateAt(sys_days{2026y / 3 / 18} + hours(21)), (Date{2026, 3, 19}));

    const Date d18{2026, 3, 18};
    const Date d19{2026, 3, 19};
    const seconds ttl = minutes(15);
    struct Case {
        const char* What;
        Date Requested;
        WallClock::time_point Fetched;
        WallClock::time_point Now;
        bool Fresh;
    };
    for (const auto& c : {
             Case{"today, 10 minutes old", d18, Moscow(18, 12), Moscow(18, 12, 10), true},
             Case{"today, 16 minutes old", d18, Moscow(18, 12), Moscow(18, 12, 16), false},
             Case{"tomorrow, 10 minutes old", d19, Moscow(18, 20), Moscow(18, 20, 10), true},
             Case{"tomorrow, fetched before it was published", d19, Moscow(18, 12), Moscow(20, 12),
                  false},
             Case{"a past date, fetched the day after", d18, Moscow(19, 0, 1),
                  Moscow(19, 0, 1) + years(5), true},
             Case{"a past date, fetched while it was today", d18, Moscow(18, 23, 50),
                  Moscow(19, 0, 10), false},
             Case{"fetched in the future (the clock went back)", d19, Moscow(18, 13),
                  Moscow(18, 12), false},
         })
        EXPECT_EQ(IsFresh(c.Requested, c.Fetched, c.Now, ttl), c.Fresh) << c.What;
}

TEST(DocumentCache, StoresRawBytesAtomicallyInAPrivateFolder) {
    TempDir tmp;
    const std::string dir = tmp.Path() + "/a/b/rates";
    DocumentCache cache(dir);
    const Date d{2016, 8, 23};
    const auto bytes = TestFile("XML_daily_2016-08-23_reformatted.xml");
    EXPECT_FALSE(cache.Load(d));
    EXPECT_EQ(cache.Store(d, bytes, Moscow(18, 12)), "");
    EXPECT_EQ(cache.PathOf(d), dir + "/2016-08-23.xml");

    // Every folder it made is private; no temporary file is left.
    for (const auto& f : {tmp.Path() + "/a", tmp.Path() + "/a/b", dir}) {
        struct stat st {};
        ASSERT_EQ(stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << f;
    }
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"2016-08-23.xml"});
    std::ifstream in(cache.PathOf(d), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);

    const auto copy = cache.Load(d);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->FetchedAt, Moscow(18, 12));
    EXPECT_EQ(copy->Table.From, d);
    EXPECT_EQ(copy->Table.Currencies.size(), 33u);
}

TEST(DocumentCache, DamagedFilesAreReportedAndReplaced) {
    TempDir tmp;
    DocumentCache cache(tmp.Path());
    const Date d{2016, 8, 23};
    const auto good = TestFile("XML_daily_2016-08-23_reformatted.xml");
    struct Case {
        const char* What;
        std::string Bytes;
        const char* Why;
    };
    for (const auto& c : {
             Case{"torn", good.substr(0, 3000), "not a well-formed XML document"},
             Case{"empty", "", "an empty answer"},
             Case{"a failure page", TestFile("XML_daily_error_in_parameters.xml"),
                  "Error in parameters"},
         }) {
        std::ofstream(cache.PathOf(d), std::ios::binary | std::ios::trunc) << c.Bytes;
        std::string damaged;
        EXPECT_FALSE(cache.Load(d, &damaged)) << c.What;
        EXPECT_NE(damaged.find(c.Why), std::string::npos) << c.What << ": " << damaged;
        EXPECT_EQ(cache.Store(d, good, Moscow(18, 12)), "");
        EXPECT_TRUE(cache.Load(d)) << c.What;
    }
    // A symbolic link is not followed, and is replaced, not what it names.
    fs::remove(cache.PathOf(d));
    std::ofstream(tmp.Path() + "/elsewhere") << "kept";
    fs::create_symlink(tmp.Path() + "/elsewhere", cache.PathOf(d));
    std::string link;
    EXPECT_FALSE(cache.Load(d, &link));
    EXPECT_EQ(link, "a symbolic link, not followed");
    EXPECT_EQ(cache.Store(d, good, Moscow(18, 12)), "");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(cache.PathOf(d))));
    EXPECT_EQ(std::ifstream(tmp.Path() + "/elsewhere").rdbuf()->sgetc(), 'k');

    // A folder where the file should be, and a file where the folder should be.
    fs::remove(cache.PathOf(d));
    fs::create_directory(cache.PathOf(d));
    std::string damaged;
    EXPECT_FALSE(cache.Load(d, &damaged));
    EXPECT_EQ(damaged, "not a regular file");
    EXPECT_NE(cache.Store(d, good, Moscow(18, 12)), "");

    std::ofstream(tmp.Path() + "/file") << "x";
    DocumentCache blocked(tmp.Path() + "/file/rates");
    EXPECT_NE(blocked.Store(d, good, Moscow(18, 12)), "");
    EXPECT_FALSE(blocked.Load(d));
}

TEST(DocumentCache, DefaultFolder) {
    struct Saved {
        const char* Name;
        std::optional<std::string> Value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"CACHE_DIRECTORY", "XDG_CACHE_HOME", "HOME"}) {
        const char* v = std::getenv(name);
        saved.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
    }
    struct Case {
        const char* Cache;
        const char* Xdg;
        const char* Home;
        const char* Expected;
    };
    for (const auto& c : {
             Case{"/var/cache/kurs-rates", "/x", "/home/u", "/var/cache/kurs-rates"},
             Case{"/var/cache/a:/var/cache/b", nullptr, "/home/u", "/var/cache/a"},
             Case{nullptr, "/x/cache", "/home/u", "/x/cache/kurs/rates"},
             Case{nullptr, "relative", "/home/u", "/home/u/.cache/kurs/rates"},
             Case{"", "", "/home/u", "/home/u/.cache/kurs/rates"},
             Case{nullptr, nullptr, nullptr, ""},
         }) {
        auto set = [](const char* name, const char* v) { v ? setenv(name, v, 1) : unsetenv(name); };
        set("CACHE_DIRECTORY", c.Cache);
        set("XDG_CACHE_HOME", c.Xdg);
        set("HOME", c.Home);
        EXPECT_EQ(DefaultUpstreamCacheDir(), c.Expected);
    }
    for (const auto& s : saved)
        s.Value ? setenv(s.Name, s.Value->c_str(), 1) : unsetenv(s.Name);
}

}  // namespace
}  // namespace rates
