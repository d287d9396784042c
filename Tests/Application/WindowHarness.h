// Window test harness: runs the real program under a virtual X display and drives it the
// way a person would. Reusable by every window test of the project.
//
//   VirtualDisplay display;                 // starts Xvfb on a free display number
//   ASSERT_TRUE(display.Start());           // 1920 x 1080 x 24 unless told otherwise
//   ProgramUnderTest program(SORVAN_PROGRAM_PATH, "Sorvan_9_5_test.exe");
//   ASSERT_TRUE(program.Start(display));    // copied into its own temporary folder
//   XTools x(display);
//   auto window = x.FindWindow(program.Pid());
//   auto shot = Screenshot::Take(display);  // the whole screen, RGB pixels
//   x.Click(960, 540);
//   auto exitCode = program.WaitForExit(5s);
//
// Every wait is bounded; a timed-out external command is killed. Destructors kill what is
// still running (the program, then Xvfb) and remove the temporary folder, so a failed
// assertion leaves nothing behind; a test process that dies takes Xvfb and the program
// with it (parent-death signal through setpriv). Needs Xvfb, xdotool, xprop and ImageMagick's
// import (HasWindowTools tells whether they are installed).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vesk::test {

using namespace std::chrono_literals;

// True when Xvfb, xdotool, xprop and import are all on PATH.
bool HasWindowTools();

// Environment changes for a child: "NAME=value" sets, a bare "NAME" removes.
using EnvironmentChanges = std::vector<std::string>;

struct CommandResult {
    int exitCode = -1;  // 128 + signal when killed by a signal, -1 when timed out
    bool timedOut = false;
    std::string output;  // standard output and standard error together
};

// Runs argv[0] (looked up on PATH) with the current environment plus `changes`, waits at
// most `timeout`, and kills it past that.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const EnvironmentChanges& changes = {},
                         std::chrono::milliseconds timeout = 10s);

// One child process with a bounded wait and a kill that always reaps.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();  // kills and reaps the child if it still runs

    // Starts argv with the current environment plus `changes`, standard output and error
    // appended to `outputPath` (or discarded when empty), in `workingFolder` when given.
    // `inheritedFd`, when not -1, is handed to the child as its file descriptor 3.
    bool Start(const std::vector<std::string>& argv, const EnvironmentChanges& changes,
               const std::filesystem::path& outputPath = {},
               const std::filesystem::path& workingFolder = {}, int inheritedFd = -1);
    // Starts argv with standard output and error written to `outputFd`.
    bool StartPiped(const std::vector<std::string>& argv, const EnvironmentChanges& changes,
                    int outputFd);

    // The exit code (128 + signal when killed) once the child has ended, or nothing when
    // it is still running after `timeout`.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    bool IsRunning();
    // SIGTERM, up to `grace` to end, then SIGKILL; always reaps.
    void Stop(std::chrono::milliseconds grace = 0ms);

    pid_t Pid() const { return pid_; }

private:
    bool Spawn(const std::vector<std::string>& argv, const EnvironmentChanges& changes,
               const std::filesystem::path& outputPath, int outputFd,
               const std::filesystem::path& workingFolder, int inheritedFd);

    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

// An Xvfb server on a display number it picks itself (a free one), ready when Start
// returns true.
class VirtualDisplay {
public:
    VirtualDisplay() = default;
    ~VirtualDisplay();

    bool Start(int width = 1920, int height = 1080, std::chrono::milliseconds timeout = 15s);
    void Stop();

    const std::string& Name() const { return name_; }  // ":N"
    int Width() const { return width_; }
    int Height() const { return height_; }
    // "DISPLAY=:N": the environment change that puts a child on this display.
    std::string DisplayVariable() const { return "DISPLAY=" + name_; }
    // Replaces the server's X resources (the root window's RESOURCE_MANAGER, what xrdb
    // loads), e.g. "Xft.dpi:\t144\n"; programs started afterwards read them. The server runs
    // with -noreset, so they stay when the setting connection closes.
    bool SetResources(const std::string& resources) const;

private:
    ChildProcess server_;
    std::string name_;
    int width_ = 0;
    int height_ = 0;
};

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// True when every channel differs by at most `tolerance`.
bool Near(Rgb a, Rgb b, int tolerance = 8);
std::string ToString(Rgb colour);

// A picture of the whole screen.
class Screenshot {
public:
    // Takes a screenshot with ImageMagick's import into `path` (a PNG; a file in the
    // system's temporary folder when empty) and reads it back.
    static std::optional<Screenshot> Take(const VirtualDisplay& display,
                                          const std::filesystem::path& path = {});

    int Width() const { return width_; }
    int Height() const { return height_; }
    // The pixel at (x, y); black outside the picture.
    Rgb Pixel(int x, int y) const;
    // Pixels of the rectangle (x, y, width, height) near `colour`.
    int CountNear(int x, int y, int width, int height, Rgb colour, int tolerance = 8) const;
    const std::filesystem::path& File() const { return file_; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> rgb_;
    std::filesystem::path file_;
};

struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Mouse, keyboard and window queries on one display (xdotool, xprop).
class XTools {
public:
    explicit XTools(const VirtualDisplay& display) : display_(display.DisplayVariable()) {}

    // The visible window of process `pid` (X window id), waiting up to `timeout` for it.
    std::optional<std::string> FindWindow(pid_t pid, std::chrono::milliseconds timeout = 30s) const;
    std::optional<WindowGeometry> GetGeometry(const std::string& window) const;
    // The window's decorations as its _MOTIF_WM_HINTS ask for them: false when the hints ask
    // for none, true when they ask for some or are absent (the window manager decides).
    std::optional<bool> HasDecorations(const std::string& window) const;

    // The window's opacity as it asked for it (_NET_WM_WINDOW_OPACITY, 0..1); 1 when it set
    // none.
    std::optional<double> GetOpacity(const std::string& window) const;
    // Asks the window to close as a window manager does when its close button is pressed
    // (a WM_DELETE_WINDOW message).
    bool Close(const std::string& window) const;

    bool MoveMouse(int x, int y) const;
    bool Click(int x, int y, int button = 1) const;
    // Clicks at (x, y) and moves on to (toX, toY) in one burst, faster than a frame.
    bool ClickAndMoveAway(int x, int y, int toX, int toY) const;
    // Presses at (x, y), moves to (toX, toY) and releases there in one burst, faster than a
    // frame: a drag whose release lands before the window could follow the pointer.
    bool PressMoveRelease(int x, int y, int toX, int toY) const;
    bool MouseDown(int x, int y, int button = 1) const;
    bool MouseUp(int button = 1) const;
    // Press at `from`, move in `steps` steps to `to` with a pause between, release.
    bool Drag(int fromX, int fromY, int toX, int toY, int steps = 10,
              std::chrono::milliseconds pause = 20ms) const;
    // Moves the mouse over (x, y) first, so the key goes to the window there.
    bool Key(const std::string& keyName, int x, int y) const;

private:
    bool Run(const std::vector<std::string>& arguments) const;

    std::string display_;
};

// The real program copied into a temporary folder under the file name a user would have
// (the name names the release), run on a virtual display.
class ProgramUnderTest {
public:
    ProgramUnderTest(const std::filesystem::path& program, const std::string& fileName);
    ~ProgramUnderTest();  // kills the program and removes the folder

    // Starts the copy on `display` with `changes` to the environment. Output goes to
    // Output(); the working folder is the copy's folder.
    bool Start(const VirtualDisplay& display, const EnvironmentChanges& changes = {});
    // Starts it with the environment as given (no display added).
    bool Start(const EnvironmentChanges& changes);

    std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
        return process_.WaitForExit(timeout);
    }
    bool IsRunning() { return process_.IsRunning(); }
    void Kill() { process_.Stop(); }
    pid_t Pid() const { return process_.Pid(); }

    // User plus system CPU time of the whole process (all threads) so far, in seconds;
    // nothing once it has been reaped.
    std::optional<double> CpuSeconds() const;
    // Resident memory of the process (VmRSS) in KiB; nothing once it has been reaped.
    std::optional<long> ResidentKiB() const;

    const std::filesystem::path& Folder() const { return folder_; }
    const std::filesystem::path& Executable() const { return executable_; }
    // Everything the program wrote to standard output and standard error so far.
    std::string Output() const;

private:
    std::filesystem::path folder_;
    std::filesystem::path executable_;
    ChildProcess process_;
};

// Where a test keeps its screenshots: $SORVAN_SCREENSHOT_DIR when set, else the system's
// temporary folder.
std::filesystem::path ScreenshotPath(const std::string& name);

}  // namespace vesk::test
