// The file list as the engine reads it: the received bytes without zero bytes, widened,
// parsed into entries, and each entry's local name, safety check, size, CRC and SHA-256.
#include <cstdlib>

#include "DownloadSystem/FileList.h"
#include "FuzzInput.h"
#include "Support/StringUtils.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    // The product code comes from the manifest, so it is as hostile as the list.
    const std::u16string suffix = u"_" + vesk::StringUtils::ToWide(input.Piece());
    std::string text;
    for (const char c : input.Rest()) {
        if (c != 0) {
            text += c;
        }
    }
    const DownloadSystem::FileList entries =
        DownloadSystem::ParseFileListText(vesk::StringUtils::ToWide(text));
    for (const DownloadSystem::FileListEntry& entry : entries) {
        if (!entry.HasFields()) {
            continue;
        }
        // Empty fields at the end of an entry are removed by the parser.
        if (entry.fields.back().empty()) {
            std::abort();
        }
        const std::u16string local = DownloadSystem::MakeLocalName(entry.Name(), suffix);
        if (local.size() != entry.Name().size() + suffix.size()) {
            std::abort();
        }
        const bool plain = DownloadSystem::IsPlainFileName(local);
        // A plain local name never leaves the download folder.
        if (plain && (local.find(u'/') != std::u16string::npos || local == u".." ||
                      local.find(u'\\') != std::u16string::npos)) {
            std::abort();
        }
        if (entry.IsComplete()) {
            (void)DownloadSystem::ParseListSize(entry.fields[1]);
            (void)DownloadSystem::ParseExpectedCrc(entry.fields[2]);
        }
        if (entry.fields.size() >= 4 && DownloadSystem::ParseListedSha256(entry.fields[3]) &&
            entry.fields[3].size() != 64) {
            std::abort();
        }
    }
    return 0;
}
