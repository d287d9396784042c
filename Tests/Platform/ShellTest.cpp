// Shell on real programs: a started script sees its working folder, failed starts
// report their error, and xdg-open (a recording stand-in first on PATH) receives the
// address or folder and is reaped.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Platform/Shell.h"
#include "Platform/SystemError.h"

namespace {

namespace Shell = Platform::Shell;
using Platform::LastSystemError;
using namespace std::chrono_literals;

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

void WriteScript(const std::string& path, const std::string& body, mode_t mode = 0755) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), mode);
}

// The text a child wrote, once it has written a whole line (bounded wait).
std::optional<std::string> AwaitLine(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream file(path);
        std::string text((std::istreambuf_iterator<char>(file)), {});
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
            return text;
        }
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

// True once process `pid` is gone from the process table, i.e. it ended and its
// parent collected it (a zombie keeps its entry).
bool AwaitReaped(const std::string& pid) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!std::filesystem::exists("/proc/" + pid)) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "shell-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = std::filesystem::canonical(pattern).string();
        if (const char* path = ::getenv("PATH")) {
            oldPath_ = path;
        }
    }
    void TearDown() override {
        ::setenv("PATH", oldPath_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Puts a stand-in xdg-open first on PATH that records its pid and arguments.
    std::string InstallRecordingOpener() {
        const std::string bin = folder_ + "/bin";
        std::filesystem::create_directory(bin);
        const std::string record = folder_ + "/opened.txt";
        WriteScript(bin + "/xdg-open", "echo \"$$ $*\" > '" + record + ".part'\nmv '" + record +
                                           ".part' '" + record + "'");
        ::setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
        return record;
    }

    std::string folder_;
    std::string oldPath_;
};

TEST_F(ShellTest, ProgramStartsInItsWorkingFolder) {
    const std::string work = folder_ + "/work folder";
    std::filesystem::create_directory(work);
    const std::string output = folder_ + "/cwd.txt";
    WriteScript(folder_ + "/setup.sh",
                "pwd > '" + output + ".part'\nmv '" + output + ".part' '" + output + "'");

    ASSERT_TRUE(Shell::StartProgram(Wide(folder_ + "/setup.sh"), Wide(work)));
    EXPECT_EQ(AwaitLine(output), work);
}

TEST_F(ShellTest, FailedStartsReportTheirErrorNumber) {
    EXPECT_FALSE(Shell::StartProgram(Wide(folder_ + "/absent.sh"), Wide(folder_)));
    EXPECT_EQ(LastSystemError(), ENOENT);

    WriteScript(folder_ + "/not-executable.sh", "true", 0644);
    EXPECT_FALSE(Shell::StartProgram(Wide(folder_ + "/not-executable.sh"), Wide(folder_)));
    EXPECT_EQ(LastSystemError(), EACCES);

    WriteScript(folder_ + "/ok.sh", "true");
    EXPECT_FALSE(Shell::StartProgram(Wide(folder_ + "/ok.sh"), Wide(folder_ + "/absent-dir")));
    EXPECT_EQ(LastSystemError(), ENOENT);

    EXPECT_FALSE(Shell::StartProgram(u"", Wide(folder_)));
}

TEST_F(ShellTest, WebPageGoesToTheOpenerWhichIsReaped) {
    const std::string record = InstallRecordingOpener();
    const std::string address = "https://support.example.test/article?id=7&lang=en";
    ASSERT_TRUE(Shell::OpenWebPage(Wide(address)));

    const auto line = AwaitLine(record);
    ASSERT_TRUE(line.has_value());
    std::istringstream fields(*line);
    std::string pid;
    std::string argument;
    fields >> pid >> argument;
    EXPECT_EQ(argument, address);
    EXPECT_TRUE(AwaitReaped(pid)) << "opener " << pid << " left as a zombie";
}

TEST_F(ShellTest, FolderGoesToTheOpenerAndNeverAsAnOption) {
    const std::string record = InstallRecordingOpener();
    ASSERT_TRUE(Shell::OpenFolder(Wide(folder_)));
    auto line = AwaitLine(record);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->substr(line->find(' ') + 1), folder_);

    std::filesystem::remove(record);
    ASSERT_TRUE(Shell::OpenFolder(u"-dash"));
    line = AwaitLine(record);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->substr(line->find(' ') + 1), "./-dash");
}

TEST_F(ShellTest, NonWebAddressesAndAMissingOpenerAreRefused) {
    InstallRecordingOpener();
    EXPECT_FALSE(Shell::OpenWebPage(Wide(folder_ + "/setup.sh")));
    EXPECT_EQ(LastSystemError(), EINVAL);
    EXPECT_FALSE(Shell::OpenWebPage(u"file:///etc/passwd"));
    EXPECT_FALSE(Shell::OpenWebPage(u"--help"));

    std::filesystem::create_directory(folder_ + "/empty");
    ::setenv("PATH", (folder_ + "/empty").c_str(), 1);
    EXPECT_FALSE(Shell::OpenWebPage(u"https://example.test/"));
    EXPECT_EQ(LastSystemError(), ENOENT);
}

}  // namespace
