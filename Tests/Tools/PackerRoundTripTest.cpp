// The packer's list read back by the client's own parser: every entry must come
// back with the name, size, CRC and SHA-256 the client will compare the downloaded
// files to.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DownloadSystem/CRC.h"
#include "DownloadSystem/FileList.h"
#include "Platform/Crypto.h"
#include "ReleasePacker.h"
#include "Support/StringUtils.h"
#include "TestFolder.h"

namespace {

using ToolsTest::ReadFile;
using ToolsTest::TestFolder;
using vesk::StringUtils;

struct ReleaseFile {
    std::string name;
    std::string bytes;
};

// Bytes whose CRC-32 differs from file to file and spans several read blocks.
std::string Varied(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Packs `files` and parses the written list the way the client does after its fetch.
DownloadSystem::FileList PackAndParse(TestFolder& folder, const std::vector<ReleaseFile>& files) {
    Tools::PackOptions options;
    options.contentRoot = folder.Path();
    options.release.release = "Sorvan_9_5";
    options.release.productCode = "SV95";
    options.release.companyName = "Tavrin";
    options.release.downloadSubdir = "files/9/Sorvan_9_5";
    options.release.hostName = "localhost:8443";
    for (const ReleaseFile& file : files) {
        folder.Write(options.release.downloadSubdir + "/" + file.name, file.bytes);
    }
    Tools::ReleasePacker packer(options);
    std::string error;
    EXPECT_TRUE(packer.Pack(error)) << error;
    return DownloadSystem::ParseFileListText(StringUtils::ToWide(ReadFile(packer.FileListPath())));
}

void ExpectEntriesMatch(const DownloadSystem::FileList& entries,
                        const std::vector<ReleaseFile>& files) {
    ASSERT_EQ(entries.size(), files.size());
    const DownloadSystem::CRC crc;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ReleaseFile& file = files[i];
        const DownloadSystem::FileListEntry& entry = entries[i];
        SCOPED_TRACE(file.name);
        ASSERT_EQ(entry.fields.size(), 4u);
        EXPECT_EQ(entry.Name(), StringUtils::ToWide(file.name));
        EXPECT_TRUE(DownloadSystem::IsPlainFileName(entry.Name()));
        EXPECT_EQ(DownloadSystem::ParseListSize(entry.fields[1]), file.bytes.size());
        // The client compares all 32 bits of the file's CRC with the parsed field.
        const std::uint32_t actual = crc.Extend(0, file.bytes.data(), file.bytes.size());
        EXPECT_EQ(static_cast<std::uint32_t>(DownloadSystem::ParseExpectedCrc(entry.fields[2])),
                  actual);
        std::string sha;
        for (const std::uint8_t byte : Platform::ComputeHash(
                 Platform::HashAlgorithm::Sha256, file.bytes.data(), file.bytes.size())) {
            static constexpr char Digits[] = "0123456789abcdef";
            sha += Digits[byte >> 4];
            sha += Digits[byte & 0xF];
        }
        EXPECT_EQ(entry.fields[3], StringUtils::ToWide(sha));
    }
}

TEST(PackerRoundTripTest, EveryEntryReadsBackAsTheClientComparesIt) {
    // In name order, as the packer lists them. "123456789" has CRC 0xCBF43926: the top
    // bit is set, so the list carries it as a negative number. Sizes cover an empty
    // file, a single byte and files larger than one read block.
    const std::vector<ReleaseFile> files = {
        {"Data+set~1a.bin", "123456789"},  {"Data-0a.bin", ""},
        {"Data-1a.bin", Varied(1, 1)},     {"Data-2b.bin", Varied(300 * 1024 + 17, 2)},
        {"Data_3c.bin", Varied(65536, 3)}, {"Setup.exe", "#!/bin/sh\necho setup\n"},
    };
    TestFolder folder;
    ExpectEntriesMatch(PackAndParse(folder, files), files);
}

TEST(PackerRoundTripTest, ManyFilesKeepTheirOrderAndFields) {
    // Enough entries that a lost or merged separator anywhere would shift the rest.
    std::vector<ReleaseFile> files;
    for (int i = 0; i < 60; ++i) {
        const std::string index = (i < 10 ? "0" : "") + std::to_string(i);
        files.push_back(
            {"Part-" + index + "x.bin", Varied(static_cast<std::size_t>(i * 37), i + 10)});
    }
    TestFolder folder;
    ExpectEntriesMatch(PackAndParse(folder, files), files);
}

}  // namespace
