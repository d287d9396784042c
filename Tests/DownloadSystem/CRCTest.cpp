// CRC-32: the standard check value and table, pieces against the whole, files read in blocks.
#include "DownloadSystem/CRC.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Support/StringUtils.h"

namespace {

using DownloadSystem::CRC;

TEST(CRCTest, StandardCheckValueAndTable) {
    CRC crc;
    const std::string digits = "123456789";
    EXPECT_EQ(crc.Compute(digits.data(), 9), 0xCBF43926u);
    EXPECT_EQ(crc.Compute(digits.data(), 0), 0u);
    EXPECT_EQ(crc.Compute(digits.data(), -5), 0u);
    // Building again gives the same table.
    crc.BuildTable();
    EXPECT_EQ(crc.Compute("a", 1), 0xE8B7BE43u);
    EXPECT_EQ(crc.Extend(0, digits.data(), digits.size()), 0xCBF43926u);
}

// The fast routine against the checksum's definition, bit by bit, for every length
// around the routine's word and vector widths and at every alignment.
TEST(CRCTest, FastRoutineMatchesTheBitwiseDefinition) {
    const auto bitwise = [](const unsigned char* data, std::size_t length) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (std::size_t i = 0; i < length; ++i) {
            c ^= data[i];
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        return c ^ 0xFFFFFFFFu;
    };
    std::vector<unsigned char> data(4096 + 64);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>((i * 2654435761u) >> 11);
    const CRC crc;
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length :
             {0, 1, 3, 7, 8, 15, 16, 31, 32, 63, 64, 65, 127, 128, 255, 256, 1000, 4095, 4096}) {
            EXPECT_EQ(crc.Extend(0, data.data() + offset, length),
                      bitwise(data.data() + offset, length))
                << "offset " << offset << ", length " << length;
        }
    }
}

TEST(CRCTest, PiecesGiveTheChecksumOfTheWhole) {
    CRC crc;
    std::string data(100000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7919) >> 3);
    const std::uint32_t whole = crc.Compute(data.data(), static_cast<std::int32_t>(data.size()));
    std::uint32_t running = 0;
    for (std::size_t at = 0; at < data.size(); at += 777)
        running =
            crc.Extend(running, data.data() + at, std::min<std::size_t>(777, data.size() - at));
    EXPECT_EQ(running, whole);
}

// Sizes around the read block, which a file smaller than it gets at its own size.
TEST(CRCTest, FileChecksumMatchesMemoryAndMissingFileFails) {
    const auto path = std::filesystem::temp_directory_path() / "sorvan-crc-test.bin";
    constexpr std::size_t Block = 1 << 20;
    CRC crc;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{16384}, std::size_t{600 * 1024 + 13},
          Block - 1, Block, Block + 1, 5 * Block / 2}) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 31 + 7);
        std::ofstream(path, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
        std::uint32_t found = 1;
        ASSERT_TRUE(crc.ComputeFile(vesk::StringUtils::ToWide(path.string()), found)) << size;
        EXPECT_EQ(found, crc.Compute(data.data(), static_cast<std::int32_t>(data.size()))) << size;
    }
    std::filesystem::remove(path);
    std::uint32_t found = 1;
    EXPECT_FALSE(crc.ComputeFile(vesk::StringUtils::ToWide(path.string()), found));
}

}  // namespace
