#include "DownloadSystem/ListedFile.h"

namespace DownloadSystem {

ListedFile ReadListedFile(const FileListEntry& entry, bool listSigned) {
    ListedFile file;
    const std::vector<std::u16string>& fields = entry.fields;
    if (fields.empty()) {
        return file;
    }
    file.name = fields[0];
    if (fields.size() >= 2) {
        file.size = ParseListSize(fields[1]);
        file.sizeBound = ListedSizeBound(fields[1]);
    }
    if (fields.size() >= 3) {
        file.crc = ParseExpectedCrc(fields[2]);
        file.complete = true;
        file.further.assign(fields.begin() + 3, fields.end());
    }
    if (listSigned && fields.size() >= 4) {
        file.sha256 = ParseListedSha256(fields[3]);
    }
    return file;
}

}  // namespace DownloadSystem
