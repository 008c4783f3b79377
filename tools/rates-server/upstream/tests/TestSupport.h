#pragma once
// Test helpers: the date most tests ask for, collectors of what another
// thread reports (the results of Upstream::Fetch, the lines it logs), and a
// temporary folder.  Waits block on a condition variable, with a generous
// bound so that a fault fails the test instead of hanging it.

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/rates-server/upstream/Upstream.h"

namespace rates::test {

inline constexpr std::chrono::seconds kPatience{20};

// The date the tests ask the bank's service for, and its request target.
inline const Date k18{2026, 3, 18};
inline const std::string kTarget18 = "/scripts/XML_daily.asp?date_req=18/03/2026";

class Results {
  public:
    // A callback for one Fetch; it records how often it was called.
    Upstream::Done Callback() {
        std::lock_guard lock(FLock);
        const std::size_t slot = FCalls.size();
        FCalls.push_back(0);
        FGot.emplace_back();
        return [this, slot](const UpstreamResult& r) {
            std::lock_guard lock(FLock);
            ++FCalls[slot];
            FGot[slot] = r;
            ++FTotal;
            FChanged.notify_all();
        };
    }
    // Waits until every callback handed out was called; false on time-out.
    bool WaitAll() {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, kPatience, [this] { return FTotal >= FCalls.size(); });
    }
    bool Called(std::size_t slot) {
        std::lock_guard lock(FLock);
        return FCalls.at(slot) > 0;
    }
    bool WaitFor(std::size_t slot) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, kPatience, [&] { return FCalls.at(slot) > 0; });
    }
    UpstreamResult Get(std::size_t slot) {
        std::lock_guard lock(FLock);
        return FGot.at(slot);
    }
    std::vector<int> Calls() {
        std::lock_guard lock(FLock);
        return FCalls;
    }

  private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<int> FCalls;
    std::vector<UpstreamResult> FGot;
    std::size_t FTotal = 0;
};

class LogLines {
  public:
    std::function<void(const std::string&)> Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(FLock);
            FLines.push_back(line);
            FChanged.notify_all();
        };
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(FLock);
        return FLines;
    }
    // Waits for a line that holds text.
    bool WaitFor(const std::string& text) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, kPatience, [&] {
            for (const auto& l : FLines)
                if (l.find(text) != std::string::npos)
                    return true;
            return false;
        });
    }

  private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::string> FLines;
};

// A value one thread sets once and others wait for.
class Signal {
  public:
    void Set() {
        std::lock_guard lock(FLock);
        FSet = true;
        FChanged.notify_all();
    }
    bool Wait() {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, kPatience, [this] { return FSet; });
    }

  private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FSet = false;
};

// A folder of its own under the system's temporary folder, removed with
// everything in it at the end.
class TempDir {
  public:
    TempDir() {
        std::string t = (std::filesystem::temp_directory_path() / "kurs-upstream-XXXXXX").string();
        if (mkdtemp(t.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        FPath = t;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return FPath; }

  private:
    std::string FPath;
};

}  // namespace rates::test
