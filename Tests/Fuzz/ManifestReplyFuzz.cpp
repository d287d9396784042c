// The download service's reply to the manifest request: the JSON is read, the manifest
// keys kept and the signing rule applied; then the paths the engine builds from them.
#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/FileList.h"
#include "FuzzInput.h"
#include "Support/ErrorLog.h"

namespace {
DownloadSystem::DownloadManager* manager = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    // One manager for the run: it computes the machine identifier once.
    manager = new DownloadSystem::DownloadManager;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vesk::ClearErrors();
    const std::string reply(reinterpret_cast<const char*>(data), size);
    std::u16string errorText;
    if (manager->ApplyManifestReply(reply, errorText)) {
        (void)DownloadSystem::MakeLocalName(u"Sorvan_9_5.exe", manager->GetFileSuffix());
        (void)DownloadSystem::IsPlainFileName(
            DownloadSystem::MakeLocalName(u"data-1a.bin", manager->GetFileSuffix()));
        (void)manager->LocalPath(manager->GetDownloadSubdir());
    }
    return 0;
}
