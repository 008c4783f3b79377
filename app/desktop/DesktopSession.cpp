#include "app/desktop/DesktopSession.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

namespace desktop_testing {

namespace fs = std::filesystem;
using app_testing::ChildProcess;
using app_testing::Environment;
using app_testing::RunProgram;

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const fs::path candidate = fs::path(folder) / name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

DesktopSession::DesktopSession() {
    FRunning = Start();
}

DesktopSession::~DesktopSession() {
    if (FWindowManager)
        FWindowManager->Stop(SIGTERM, 5000);
    if (FServer)
        FServer->Stop(SIGTERM, 5000);
    if (!FFolder.empty())
        fs::remove_all(FFolder);
}

bool DesktopSession::Start() {
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xwininfo", "xprop", "import"}) {
        if (FindProgram(tool).empty()) {
            FProblem = std::string("no X server for the desktop tests: ") + tool +
                       " is not installed (make deps installs xvfb openbox xdotool "
                       "x11-utils imagemagick)";
            return false;
        }
    }
    char folder[] = "/tmp/kurs-desktop-XXXXXX";
    if (!::mkdtemp(folder)) {
        FProblem = "no temporary folder for the desktop";
        return false;
    }
    FFolder = folder;
    // A display number nobody holds now; another starter may win the race,
    // so a few numbers are tried.
    int number = 100 + static_cast<int>(::getpid() % 400);
    for (int attempt = 0; attempt < 20 && !FServer; ++attempt, ++number) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
            continue;
        auto server = std::make_unique<ChildProcess>(
            FindProgram("Xvfb"),
            std::vector<std::string>{":" + std::to_string(number), "-screen", "0", "1280x1024x24",
                                     "-nolisten", "tcp", "-noreset"});
        if (WaitUntil([&] { return fs::exists(socket) || !server->Running(); }, 10000) &&
            server->Running()) {
            FServer = std::move(server);
            FDisplay = ":" + std::to_string(number);
        }
    }
    if (!FServer) {
        FProblem = "no X server for the desktop tests: Xvfb did not start";
        return false;
    }
    // openbox runs its start-up command once it manages the screen.
    const std::string ready = FFolder + "/window-manager-ready";
    FWindowManager = std::make_unique<ChildProcess>(
        FindProgram("openbox"), std::vector<std::string>{"--startup", "touch " + ready},
        Environment{{"DISPLAY", FDisplay}, {"HOME", FFolder}, {"XDG_CONFIG_HOME", FFolder}});
    if (!app_testing::WaitForFile(ready, 15000)) {
        FProblem = "the window manager did not start: " + FWindowManager->Output();
        return false;
    }
    return true;
}

std::string DesktopSession::Tool(const std::string& name, const std::vector<std::string>& args,
                                 int timeoutMs) const {
    return RunProgram(FindProgram(name), args, Environment{{"DISPLAY", FDisplay}}, timeoutMs).Out;
}

std::string DesktopSession::WindowOf(int pid) const {
    std::string window;
    WaitUntil([&] {
        std::istringstream found(
            Tool("xdotool", {"search", "--onlyvisible", "--pid", std::to_string(pid)}, 5000));
        return static_cast<bool>(std::getline(found, window)) && !window.empty();
    });
    return window;
}

Frame DesktopSession::FrameOf(const std::string& window) const {
    const std::string info = Tool("xwininfo", {"-id", window});
    auto number = [&](const std::string& label) {
        std::smatch m;
        return std::regex_search(info, m, std::regex(label + ":\\s+(-?\\d+)")) ? std::stoi(m[1])
                                                                               : 0;
    };
    Frame frame;
    frame.ClientX = number("Absolute upper-left X");
    frame.ClientY = number("Absolute upper-left Y");
    frame.X = frame.ClientX - number("Relative upper-left X");
    frame.Y = frame.ClientY - number("Relative upper-left Y");
    frame.Width = number("Width");
    frame.Height = number("Height");
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
    std::smatch m;
    const std::string extents = Tool("xprop", {"-id", window, "_NET_FRAME_EXTENTS"});
    if (std::regex_search(extents, m, std::regex("= (\\d+), (\\d+), (\\d+), (\\d+)"))) {
        frame.OuterWidth = std::stoi(m[1]) + frame.Width + std::stoi(m[2]);
        frame.OuterHeight = std::stoi(m[3]) + frame.Height + std::stoi(m[4]);
    }
    return frame;
}

bool DesktopSession::Screenshot(const std::string& path) const {
    fs::create_directories(fs::path(path).parent_path());
    return RunProgram(FindProgram("import"), {"-window", "root", path},
                      Environment{{"DISPLAY", FDisplay}}, 20000)
               .ExitCode == 0;
}

bool DesktopSession::Screenshot(const std::string& path, const Frame& frame) const {
    if (frame.OuterWidth <= 0 || frame.OuterHeight <= 0)
        return false;
    fs::create_directories(fs::path(path).parent_path());
    const std::string crop = std::to_string(frame.OuterWidth) + "x" +
                             std::to_string(frame.OuterHeight) + "+" + std::to_string(frame.X) +
                             "+" + std::to_string(frame.Y);
    return RunProgram(FindProgram("import"), {"-window", "root", "-crop", crop, "+repage", path},
                      Environment{{"DISPLAY", FDisplay}}, 20000)
               .ExitCode == 0;
}

double DesktopSession::Brightness(int x, int y, int width, int height) const {
    const std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" +
                             std::to_string(x) + "+" + std::to_string(y);
    const auto result =
        RunProgram(FindProgram("import"),
                   {"-window", "root", "-crop", crop, "+repage", "-format", "%[fx:mean]", "info:"},
                   Environment{{"DISPLAY", FDisplay}}, 20000);
    try {
        return result.ExitCode == 0 ? std::stod(result.Out) : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace desktop_testing
