// Window test harness: child processes, Xvfb, screenshots, xdotool and the program copy.
#include "WindowHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stb_image.h>

extern char** environ;

namespace vesk::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> BuildEnvironment(const EnvironmentChanges& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        result.emplace_back(*entry);
    }
    for (const std::string& change : changes) {
        const auto equals = change.find('=');
        const std::string name = change.substr(0, equals);
        std::erase_if(result, [&](const std::string& entry) {
            return entry.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (equals != std::string::npos) {
            result.push_back(change);
        }
    }
    return result;
}

std::vector<char*> ToPointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

bool OnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && access((folder + "/" + tool).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

std::filesystem::path MakeTemporaryFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

// Children that must not outlive the test process (Xvfb, the program) are started through
// setpriv with a parent-death signal, so a test that crashes or is killed leaves no server
// behind. Without setpriv they start directly.
std::vector<std::string> TiedToThisProcess(std::vector<std::string> argv) {
    static const bool hasSetpriv = OnPath("setpriv");
    if (hasSetpriv) {
        argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "KILL", "--"});
    }
    return argv;
}

}  // namespace

bool HasWindowTools() {
    return OnPath("Xvfb") && OnPath("xdotool") && OnPath("xprop") && OnPath("import");
}

// ---------------------------------------------------------------------------------------

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const EnvironmentChanges& changes,
                         const std::filesystem::path& outputPath,
                         const std::filesystem::path& workingFolder, int inheritedFd) {
    return Spawn(argv, changes, outputPath, -1, workingFolder, inheritedFd);
}

bool ChildProcess::StartPiped(const std::vector<std::string>& argv,
                              const EnvironmentChanges& changes, int outputFd) {
    return Spawn(argv, changes, {}, outputFd, {}, -1);
}

bool ChildProcess::Spawn(const std::vector<std::string>& argv, const EnvironmentChanges& changes,
                         const std::filesystem::path& outputPath, int outputFd,
                         const std::filesystem::path& workingFolder, int inheritedFd) {
    if (pid_ > 0 || argv.empty()) {
        return false;
    }
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = BuildEnvironment(changes);
    std::vector<char*> argumentPointers = ToPointers(arguments);
    std::vector<char*> environmentPointers = ToPointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    } else {
        const std::string output = outputPath.empty() ? "/dev/null" : outputPath.string();
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
    }
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (inheritedFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, inheritedFd, 3);
    }
    const std::string folder = workingFolder.string();
    if (!folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    // Its own process group, so that a stop also reaches whatever the child started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argumentPointers[0], &actions, &attributes,
                                   argumentPointers.data(), environmentPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return false;
    }
    pid_ = pid;
    exitCode_.reset();
    return true;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    if (exitCode_) {
        return exitCode_;
    }
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t result = waitpid(pid_, &status, WNOHANG);
        if (result == pid_) {
            exitCode_ = DecodeStatus(status);
            return exitCode_;
        }
        if (result < 0) {
            exitCode_ = -1;
            return exitCode_;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(5ms);
    }
}

bool ChildProcess::IsRunning() {
    return pid_ > 0 && !WaitForExit(0ms).has_value();
}

void ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (!IsRunning()) {
        return;
    }
    if (grace > 0ms) {
        kill(-pid_, SIGTERM);
        if (WaitForExit(grace)) {
            return;
        }
    }
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    WaitForExit(10s);
}

// ---------------------------------------------------------------------------------------

CommandResult RunCommand(const std::vector<std::string>& argv, const EnvironmentChanges& changes,
                         std::chrono::milliseconds timeout) {
    CommandResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    ChildProcess child;
    const bool started = child.StartPiped(argv, changes, fds[1]);
    close(fds[1]);
    if (!started) {
        close(fds[0]);
        return result;
    }
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            result.timedOut = true;
            break;
        }
        pollfd entry{fds[0], POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t count = read(fds[0], buffer, sizeof buffer);
        if (count <= 0) {
            break;  // end of output: the command (and its children) closed the pipe
        }
        result.output.append(buffer, static_cast<size_t>(count));
    }
    close(fds[0]);
    if (result.timedOut) {
        child.Stop();
        return result;
    }
    const auto code = child.WaitForExit(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(deadline - Clock::now(), Clock::duration(100ms))));
    if (!code) {
        result.timedOut = true;
        child.Stop();
        return result;
    }
    result.exitCode = *code;
    return result;
}

// ---------------------------------------------------------------------------------------

VirtualDisplay::~VirtualDisplay() {
    Stop();
}

bool VirtualDisplay::Start(int width, int height, std::chrono::milliseconds timeout) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // -displayfd: Xvfb takes the first free display number and writes it once it accepts
    // connections, which answers both "which number" and "is it ready".
    const bool started = server_.Start(TiedToThisProcess({"Xvfb", "-displayfd", "3", "-screen", "0",
                                                          screen, "-nolisten", "tcp", "-noreset"}),
                                       {}, {}, {}, fds[1]);
    close(fds[1]);
    if (!started) {
        close(fds[0]);
        return false;
    }
    std::string number;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
        pollfd entry{fds[0], POLLIN, 0};
        if (poll(&entry, 1, 50) > 0) {
            char buffer[32];
            const ssize_t count = read(fds[0], buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            number.append(buffer, static_cast<size_t>(count));
        }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        server_.Stop();
        return false;
    }
    name_ = ":" + number.substr(0, number.find('\n'));
    width_ = width;
    height_ = height;
    return true;
}

void VirtualDisplay::Stop() {
    server_.Stop(2s);
}

bool VirtualDisplay::SetResources(const std::string& resources) const {
    Display* display = XOpenDisplay(name_.c_str());
    if (display == nullptr) {
        return false;
    }
    XChangeProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(resources.data()),
                    static_cast<int>(resources.size()));
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

// ---------------------------------------------------------------------------------------

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string ToString(Rgb colour) {
    return "(" + std::to_string(colour.r) + ", " + std::to_string(colour.g) + ", " +
           std::to_string(colour.b) + ")";
}

std::optional<Screenshot> Screenshot::Take(const VirtualDisplay& display,
                                           const std::filesystem::path& path) {
    Screenshot shot;
    shot.file_ = path.empty() ? ScreenshotPath("screenshot.png") : path;
    const CommandResult taken = RunCommand(
        {"import", "-display", display.Name(), "-window", "root", shot.file_.string()}, {}, 20s);
    if (taken.exitCode != 0) {
        return std::nullopt;
    }
    int channels = 0;
    stbi_uc* pixels = stbi_load(shot.file_.c_str(), &shot.width_, &shot.height_, &channels, 3);
    if (pixels == nullptr) {
        return std::nullopt;
    }
    shot.rgb_.assign(pixels, pixels + static_cast<size_t>(shot.width_) * shot.height_ * 3);
    stbi_image_free(pixels);
    return shot;
}

Rgb Screenshot::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return {};
    }
    const size_t at = (static_cast<size_t>(y) * width_ + x) * 3;
    return {rgb_[at], rgb_[at + 1], rgb_[at + 2]};
}

int Screenshot::CountNear(int x, int y, int width, int height, Rgb colour, int tolerance) const {
    int count = 0;
    for (int row = y; row < y + height; ++row) {
        for (int column = x; column < x + width; ++column) {
            count += Near(Pixel(column, row), colour, tolerance) ? 1 : 0;
        }
    }
    return count;
}

// ---------------------------------------------------------------------------------------

bool XTools::Run(const std::vector<std::string>& arguments) const {
    return RunCommand(arguments, {display_}).exitCode == 0;
}

std::optional<std::string> XTools::FindWindow(pid_t pid, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    do {
        const CommandResult found = RunCommand(
            {"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)}, {display_});
        std::istringstream lines(found.output);
        std::string line;
        if (found.exitCode == 0 && std::getline(lines, line) && !line.empty()) {
            return line;
        }
        std::this_thread::sleep_for(50ms);
    } while (Clock::now() < deadline);
    return std::nullopt;
}

std::optional<WindowGeometry> XTools::GetGeometry(const std::string& window) const {
    const CommandResult result =
        RunCommand({"xdotool", "getwindowgeometry", "--shell", window}, {display_});
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    WindowGeometry geometry;
    int found = 0;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const int value = std::atoi(line.c_str() + equals + 1);
        if (key == "X") {
            geometry.x = value, ++found;
        } else if (key == "Y") {
            geometry.y = value, ++found;
        } else if (key == "WIDTH") {
            geometry.width = value, ++found;
        } else if (key == "HEIGHT") {
            geometry.height = value, ++found;
        }
    }
    return found == 4 ? std::optional(geometry) : std::nullopt;
}

std::optional<bool> XTools::HasDecorations(const std::string& window) const {
    const CommandResult result =
        RunCommand({"xprop", "-id", window, "_MOTIF_WM_HINTS"}, {display_});
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    // "_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = flags, functions, decorations, ..."
    const auto equals = result.output.find(" = ");
    if (equals == std::string::npos) {
        return true;
    }
    std::istringstream fields(result.output.substr(equals + 3));
    std::vector<unsigned long> values;
    std::string field;
    while (std::getline(fields, field, ',')) {
        values.push_back(std::strtoul(field.c_str(), nullptr, 0));
    }
    constexpr unsigned long DecorationsFlag = 2;
    if (values.size() < 3 || (values[0] & DecorationsFlag) == 0) {
        return true;
    }
    return values[2] != 0;
}

std::optional<double> XTools::GetOpacity(const std::string& window) const {
    const CommandResult result =
        RunCommand({"xprop", "-id", window, "_NET_WM_WINDOW_OPACITY"}, {display_});
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    // "_NET_WM_WINDOW_OPACITY(CARDINAL) = 4294967295", or "...:  not found."
    const auto equals = result.output.find(" = ");
    if (equals == std::string::npos) {
        return 1.0;
    }
    return static_cast<double>(std::strtoul(result.output.c_str() + equals + 3, nullptr, 10)) /
           4294967295.0;
}

bool XTools::Close(const std::string& window) const {
    const std::string name = display_.substr(display_.find('=') + 1);
    Display* display = XOpenDisplay(name.c_str());
    if (display == nullptr) {
        return false;
    }
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(std::strtoul(window.c_str(), nullptr, 0));
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return sent != 0;
}

bool XTools::MoveMouse(int x, int y) const {
    return Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
}

bool XTools::Click(int x, int y, int button) const {
    return Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click",
                std::to_string(button)});
}

bool XTools::ClickAndMoveAway(int x, int y, int toX, int toY) const {
    return Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1",
                "mousemove", std::to_string(toX), std::to_string(toY)});
}

bool XTools::PressMoveRelease(int x, int y, int toX, int toY) const {
    return Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "mousedown", "1",
                "mousemove", std::to_string(toX), std::to_string(toY), "mouseup", "1"});
}

bool XTools::MouseDown(int x, int y, int button) const {
    return Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "mousedown",
                std::to_string(button)});
}

bool XTools::MouseUp(int button) const {
    return Run({"xdotool", "mouseup", std::to_string(button)});
}

bool XTools::Drag(int fromX, int fromY, int toX, int toY, int steps,
                  std::chrono::milliseconds pause) const {
    if (!MouseDown(fromX, fromY)) {
        return false;
    }
    // Give the program a frame to see the press before the mouse moves.
    std::this_thread::sleep_for(pause);
    steps = std::max(steps, 1);
    for (int i = 1; i <= steps; ++i) {
        MoveMouse(fromX + (toX - fromX) * i / steps, fromY + (toY - fromY) * i / steps);
        std::this_thread::sleep_for(pause);
    }
    return MouseUp();
}

bool XTools::Key(const std::string& keyName, int x, int y) const {
    return Run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "key", keyName});
}

// ---------------------------------------------------------------------------------------

ProgramUnderTest::ProgramUnderTest(const std::filesystem::path& program,
                                   const std::string& fileName) {
    folder_ = MakeTemporaryFolder("sorvan-window-test-");
    if (folder_.empty()) {
        return;
    }
    executable_ = folder_ / fileName;
    std::error_code error;
    std::filesystem::copy_file(program, executable_, error);
}

ProgramUnderTest::~ProgramUnderTest() {
    process_.Stop();
    if (!folder_.empty() && std::getenv("SORVAN_KEEP_TEST_FOLDERS") == nullptr) {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }
}

bool ProgramUnderTest::Start(const VirtualDisplay& display, const EnvironmentChanges& changes) {
    EnvironmentChanges all{display.DisplayVariable()};
    all.insert(all.end(), changes.begin(), changes.end());
    return Start(all);
}

bool ProgramUnderTest::Start(const EnvironmentChanges& changes) {
    if (executable_.empty() || !std::filesystem::exists(executable_)) {
        return false;
    }
    return process_.Start(TiedToThisProcess({executable_.string()}), changes,
                          folder_ / "output.txt", folder_);
}

std::optional<double> ProgramUnderTest::CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(process_.Pid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold spaces and parentheses; the fields follow its last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> values;
    std::string value;
    while (fields >> value) {
        values.push_back(value);
    }
    // utime and stime are fields 14 and 15 of the line, 12th and 13th after the name.
    if (values.size() < 13) {
        return std::nullopt;
    }
    const double ticks = std::stod(values[11]) + std::stod(values[12]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::optional<long> ProgramUnderTest::ResidentKiB() const {
    std::ifstream status("/proc/" + std::to_string(process_.Pid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return std::nullopt;
}

std::string ProgramUnderTest::Output() const {
    std::ifstream file(folder_ / "output.txt");
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::filesystem::path ScreenshotPath(const std::string& name) {
    const char* folder = std::getenv("SORVAN_SCREENSHOT_DIR");
    std::filesystem::path base =
        folder != nullptr && *folder != '\0' ? folder : std::filesystem::temp_directory_path();
    std::error_code error;
    std::filesystem::create_directories(base, error);
    return base / name;
}

}  // namespace vesk::test
