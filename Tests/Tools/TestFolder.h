// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ToolsTest {

class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes `bytes` to Path()/relative, creating the folders on the way.
    std::filesystem::path Write(const std::string& relative, std::string_view bytes) const;

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);

// Number of entries directly in `folder` (0 when it does not exist).
std::size_t CountEntries(const std::filesystem::path& folder);

}  // namespace ToolsTest
