// The end of a verified download: start the release's setup program in the download
// folder, or tell the user where it is and open the folder for them.
#pragma once

#include <functional>
#include <string>

namespace DownloadSystem {

class SetupLauncher {
public:
    // Forgets the program of an earlier list.
    void Reset() { setupPath_.clear(); }
    // A listed file's local path; the last one whose name ends in ".exe" is the program.
    void NoteListedFile(const std::u16string& localPath);
    const std::u16string& SetupPath() const { return setupPath_; }

    // Starts the program with `downloadFolder` as its working folder. `beforeStart` runs
    // once the program is known to be there, right before it is started (the folder
    // watcher stops there). The outcome reaches the user through the error list and the
    // user message.
    void Launch(const std::u16string& downloadFolder,
                const std::function<void()>& beforeStart) const;

private:
    std::u16string setupPath_;
};

}  // namespace DownloadSystem
