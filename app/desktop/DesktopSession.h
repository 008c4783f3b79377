#pragma once
// A desktop of its own for a test: an X server (Xvfb, 1280x1024) on a display
// number free at the time, the openbox window manager on it, and the tools
// that act as the user (xdotool), look at windows (xwininfo) and take
// screenshots (import).  Everything is stopped when the session goes.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testing/Processes.h"

namespace desktop_testing {

struct Frame {
    int X = 0, Y = 0;              // the frame's outer corner on the screen
    int ClientX = 0, ClientY = 0;  // the client area's corner on the screen
    int Width = 0, Height = 0;     // the client area's size
    // The frame's outer size, from the window manager's frame extents.
    int OuterWidth = 0, OuterHeight = 0;
};

class DesktopSession {
  public:
    DesktopSession();
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // False (Problem() says why) when the tools are missing or no X server
    // could be started.
    bool Running() const { return FRunning; }
    const std::string& Problem() const { return FProblem; }
    const std::string& Display() const { return FDisplay; }

    // Runs one of the tools on the display; its standard output.
    std::string Tool(const std::string& name, const std::vector<std::string>& args,
                     int timeoutMs = 20000) const;
    // The visible window of a process, waiting (bounded) until it is mapped.
    std::string WindowOf(int pid) const;
    // Where the window and its frame are; Width 0 when it cannot be told.
    Frame FrameOf(const std::string& window) const;
    // A picture of the whole screen.
    bool Screenshot(const std::string& path) const;
    // A picture of the window with its frame, as the screen shows it.
    bool Screenshot(const std::string& path, const Frame& frame) const;
    // The mean brightness (0 black to 1 white) of a rectangle of the screen,
    // or -1 when it cannot be told.
    double Brightness(int x, int y, int width, int height) const;

  private:
    bool Start();

    bool FRunning = false;
    std::string FProblem;
    std::string FDisplay;
    std::string FFolder;
    std::unique_ptr<app_testing::ChildProcess> FServer;
    std::unique_ptr<app_testing::ChildProcess> FWindowManager;
};

// The full path of a program found on PATH, or empty.
std::string FindProgram(const std::string& name);

// Polls the condition every 20 ms until it holds or timeoutMs pass.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

}  // namespace desktop_testing
