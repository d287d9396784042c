// Temporary folders and small file helpers for the tools' tests.
#include "TestFolder.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ToolsTest {

TestFolder::TestFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sorvan-tools-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TestFolder::~TestFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TestFolder::Write(const std::string& relative, std::string_view bytes) const {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t CountEntries(const std::filesystem::path& folder) {
    std::error_code ec;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        ++count;
    }
    return count;
}

}  // namespace ToolsTest
