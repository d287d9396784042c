// Writing, reading and checking the record of a partial download.
#include "DownloadSystem/ResumeRecord.h"

#include <charconv>
#include <vector>

#include "DownloadSystem/CRC.h"
#include "Platform/Files.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

namespace {

constexpr std::string_view FirstLine = "Sorvan partial download 1\n";
// A record is a few hundred bytes; anything far larger is not one.
constexpr std::size_t MaxRecordBytes = 8192;

std::uint32_t CrcOf(std::string_view text) {
    return CRC().Compute(text.data(), static_cast<std::int32_t>(text.size()));
}

// Takes the next line "name=value\n" off `text`; false when it is not there.
bool TakeField(std::string_view& text, std::string_view name, std::string_view& value) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos || text.substr(0, name.size()) != name ||
        end <= name.size() || text[name.size()] != '=') {
        return false;
    }
    value = text.substr(name.size() + 1, end - name.size() - 1);
    text.remove_prefix(end + 1);
    return true;
}

template <typename Number>
bool TakeNumber(std::string_view& text, std::string_view name, Number& number) {
    std::string_view value;
    if (!TakeField(text, name, value) || value.empty()) {
        return false;
    }
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    return error == std::errc() && end == value.data() + value.size();
}

}  // namespace

std::string ResumeRecord::Format() const {
    std::string text(FirstLine);
    text += "name=" + vesk::StringUtils::ToNarrow(remotePath) + "\n";
    text += "size=" + std::to_string(listedSize) + "\n";
    text += "crc=" + std::to_string(listedCrc) + "\n";
    text += "good=" + std::to_string(goodBytes) + "\n";
    text += "goodcrc=" + std::to_string(goodCrc) + "\n";
    text += "validator=" + validator + "\n";
    text += "check=" + std::to_string(CrcOf(text)) + "\n";
    return text;
}

std::optional<ResumeRecord> ResumeRecord::Parse(std::string_view text) {
    const std::size_t checkAt = text.rfind("check=");
    if (text.substr(0, FirstLine.size()) != FirstLine || checkAt == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view checkLine = text.substr(checkAt);
    std::uint32_t check = 0;
    if (!TakeNumber(checkLine, "check", check) || !checkLine.empty() ||
        check != CrcOf(text.substr(0, checkAt))) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(FirstLine.size(), checkAt - FirstLine.size());
    ResumeRecord record;
    std::string_view name;
    std::string_view validator;
    if (!TakeField(rest, "name", name) || !TakeNumber(rest, "size", record.listedSize) ||
        !TakeNumber(rest, "crc", record.listedCrc) || !TakeNumber(rest, "good", record.goodBytes) ||
        !TakeNumber(rest, "goodcrc", record.goodCrc) || !TakeField(rest, "validator", validator) ||
        !rest.empty() || record.goodBytes > record.listedSize) {
        return std::nullopt;
    }
    record.remotePath = vesk::StringUtils::ToWide(std::string(name));
    record.validator = std::string(validator);
    return record;
}

bool ResumeRecord::Save(const std::u16string& target) const {
    const std::string text = Format();
    Platform::File file = Platform::File::CreateForWriting(PathFor(target));
    const bool written = file.IsOpen() && file.Write(text.data(), text.size());
    return file.Close() && written;
}

std::optional<ResumeRecord> ResumeRecord::Load(const std::u16string& target,
                                               const std::u16string& remotePath,
                                               std::uint64_t listedSize, std::uint32_t listedCrc) {
    Platform::File file = Platform::File::OpenForReading(PathFor(target));
    if (!file.IsOpen()) {
        return std::nullopt;
    }
    std::vector<char> bytes(MaxRecordBytes + 1);
    std::size_t got = 0;
    if (!file.Read(bytes.data(), bytes.size(), got) || got > MaxRecordBytes) {
        return std::nullopt;
    }
    auto record = Parse(std::string_view(bytes.data(), got));
    if (!record || record->remotePath != remotePath || record->listedSize != listedSize ||
        record->listedCrc != listedCrc) {
        return std::nullopt;
    }
    return record;
}

}  // namespace DownloadSystem
