// Buffered writing: pieces of every size around the buffer's end reach the file whole
// and in order with the CRC-32 (and, when kept, the SHA-256) of exactly those bytes; a
// failing write is reported.
#include "DownloadSystem/BufferedFileWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DownloadSystem/CRC.h"
#include "Platform/Crypto.h"
#include "Support/StringUtils.h"

namespace {

using DownloadSystem::BufferedFileWriter;
constexpr std::size_t Buffer = BufferedFileWriter::BufferSize;

TEST(BufferedFileWriterTest, PiecesReachTheFileInOrderWithTheirChecksum) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("sorvan-writer-" + std::to_string(::getpid()) + ".bin");
    const struct {
        std::size_t total;
        std::size_t piece;
    } rows[] = {
        {0, 1},                    // nothing written: an empty file, CRC 0
        {1000, 1},                 // many tiny pieces, never a full buffer
        {Buffer, 1024},            // exactly one buffer
        {Buffer + 1, Buffer - 1},  // pieces that straddle the buffer's end
        {3 * Buffer + 17, 65536},  // several buffers and a remainder
        {2 * Buffer, 3 * Buffer},  // one piece larger than the buffer
        {20 * Buffer + 5, 4096},   // more buffers than the hashing thread queues
    };
    for (const bool withSha256 : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE("total " + std::to_string(row.total) + ", piece " +
                         std::to_string(row.piece));
            std::string data(row.total, '\0');
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<char>((i * 2654435761u) >> 13);

            Platform::File file =
                Platform::File::CreateForWriting(vesk::StringUtils::ToWide(path.string()));
            ASSERT_TRUE(file.IsOpen());
            BufferedFileWriter writer(file);
            if (withSha256)
                writer.KeepSha256();
            for (std::size_t at = 0; at < data.size(); at += row.piece)
                ASSERT_TRUE(writer.Write(data.data() + at, std::min(row.piece, data.size() - at)));
            ASSERT_TRUE(writer.Flush());
            ASSERT_TRUE(file.Close());
            EXPECT_FALSE(writer.HasFailed());

            std::ifstream in(path, std::ios::binary);
            const std::string written((std::istreambuf_iterator<char>(in)), {});
            EXPECT_TRUE(written == data) << "the file differs from the pieces written";
            EXPECT_EQ(writer.Crc(), DownloadSystem::CRC().Extend(0, data.data(), data.size()));
            Platform::Sha256Digest digest{};
            EXPECT_EQ(writer.FinishSha256(digest), withSha256);
            if (withSha256) {
                const auto expected = Platform::ComputeHash(Platform::HashAlgorithm::Sha256,
                                                            data.data(), data.size());
                EXPECT_TRUE(std::equal(digest.begin(), digest.end(), expected.begin()));
            }
        }
    std::filesystem::remove(path);
}

TEST(BufferedFileWriterTest, AFailingWriteIsReportedAndRemembered) {
    // Every write to this device fails with "no space left".
    Platform::File file = Platform::File::CreateForWriting(u"/dev/full");
    if (!file.IsOpen())
        GTEST_SKIP() << "/dev/full cannot be opened here";
    BufferedFileWriter writer(file);
    const std::vector<char> piece(Buffer / 2 + 1, 'x');
    EXPECT_TRUE(writer.Write(piece.data(), piece.size()));   // still buffered
    EXPECT_FALSE(writer.Write(piece.data(), piece.size()));  // fills the buffer: write fails
    EXPECT_TRUE(writer.HasFailed());
    EXPECT_TRUE(writer.Write("y", 1));
    EXPECT_FALSE(writer.Flush());
    EXPECT_TRUE(writer.HasFailed());
}

}  // namespace
