// Paths: the system's answers on this machine and the override seam tests use.
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "Platform/Paths.h"

namespace {

namespace Paths = Platform::Paths;

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = ::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PathsTest, SystemAnswers) {
    const std::u16string executable = Paths::ExecutablePath();
    EXPECT_EQ(executable, Wide(std::filesystem::read_symlink("/proc/self/exe").string()));
    EXPECT_EQ(executable.substr(executable.rfind(u'/') + 1), u"PlatformPathsTest");
    EXPECT_EQ(Paths::HostsFilePath(), u"/etc/hosts");
}

TEST(PathsTest, LocalAppDataFollowsXdgRules) {
    ScopedVariable home("HOME", "/home/tester");
    {
        ScopedVariable data("XDG_DATA_HOME", "/srv/data/");
        EXPECT_EQ(Paths::LocalAppDataFolder(), u"/srv/data");
    }
    {
        // A relative value is not valid and is ignored.
        ScopedVariable data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(Paths::LocalAppDataFolder(), u"/home/tester/.local/share");
    }
    ScopedVariable data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(Paths::LocalAppDataFolder(), u"/home/tester/.local/share");
    ScopedVariable noHome("HOME", nullptr);
    const std::u16string fromPasswd = Paths::LocalAppDataFolder();
    ASSERT_FALSE(fromPasswd.empty());
    EXPECT_EQ(fromPasswd.front(), u'/');
    EXPECT_NE(fromPasswd.find(u"/.local/share"), std::u16string::npos);
}

TEST(PathsTest, OverridesWinUntilCleared) {
    Paths::OverrideExecutablePath(u"/opt/release/Sorvan_9_5_X.exe");
    Paths::OverrideLocalAppDataFolder(u"/tmp/appdata");
    Paths::OverrideHostsFilePath(u"/tmp/hosts");
    EXPECT_EQ(Paths::ExecutablePath(), u"/opt/release/Sorvan_9_5_X.exe");
    EXPECT_EQ(Paths::LocalAppDataFolder(), u"/tmp/appdata");
    EXPECT_EQ(Paths::HostsFilePath(), u"/tmp/hosts");

    Paths::OverrideExecutablePath(u"");
    Paths::OverrideLocalAppDataFolder(u"");
    Paths::OverrideHostsFilePath(u"");
    EXPECT_EQ(Paths::ExecutablePath(),
              Wide(std::filesystem::read_symlink("/proc/self/exe").string()));
    EXPECT_NE(Paths::LocalAppDataFolder(), u"/tmp/appdata");
    EXPECT_EQ(Paths::HostsFilePath(), u"/etc/hosts");
}

}  // namespace
