#include "DownloadSystem/LogReport.h"

#include <string>

#include "DownloadSystem/CGZip.h"
#include "DownloadSystem/Endpoints.h"
#include "DownloadSystem/FileSystem.h"
#include "DownloadSystem/FileUpload.h"
#include "Platform/Files.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

void LogReport::Post(const std::u16string& workFolder) const {
    std::string programFolder;
    FileSystem::GetExecutableDirectory(programFolder);
    vesk::WriteLogFile(programFolder + "/logfile.txt");

    // Without a work folder the compressed file would land in the file system's root.
    if (workFolder.empty()) {
        VESK_LOG_FAILURE("DownloadManager::PostLogFile no work folder; the report is not sent", 0);
        return;
    }
    // The work folder is per user and may not exist yet on this machine.
    if (!Platform::Files::MakeDirectoryPath(workFolder)) {
        VESK_LOG_FAILURE(u"DownloadManager::PostLogFile unable to create " + workFolder,
                         Platform::LastSystemError());
    }
    const std::u16string gzPath = workFolder + u"/logfile.gz";
    const std::string text = vesk::GetLogReportText();
    {
        zlib::CGZip zip;
        zip.SetCompressionLevel(9);
        if (zip.Open(gzPath, zlib::CZipper::ModeWrite)) {
            zip.WriteString(StringUtils::ToWide(text));
            zip.Close();
        }
    }

    vesk::ByteBuffer body;
    FileSystem::ReadWholeFile(gzPath, body);
    // The upload sends the bytes read here. The file goes before it starts: the window
    // ends the program when the report takes too long, and a file left then would stay.
    if (!Platform::Files::Remove(gzPath)) {
        VESK_REPORT_ERROR(u"DownloadManager::PostLogFile Unable to delete " + gzPath,
                          Platform::LastSystemError());
    }
    if (!body.Empty()) {
        const StringMap headers = {
            {u"ComputerId", computerId_},
            {u"Content-Type", u"application/octet-stream"},
            {u"DownloadManagerVersion", u"9.5"},
            {u"Method", u"LogErrorInfo"},
            {u"User-Agent", u"Sorvan Download Manager / 9.5"},
        };
        FileUpload upload;
        upload.SendBodyRequest(Endpoints::ServiceUrl(), HttpVerb::Post, headers, body);
    }
}

}  // namespace DownloadSystem
