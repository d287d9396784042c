// The file download worker: fetches one object by HTTPS GET on its own thread, into a file
// (streamed) or into memory, checks it against an expected CRC-32 and tries up to four times.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DownloadSystem/BufferedFileWriter.h"
#include "DownloadSystem/CRC.h"
#include "DownloadSystem/Connection.h"
#include "DownloadSystem/HttpVerb.h"
#include "DownloadSystem/IDownloadListener.h"
#include "Platform/SystemError.h"
#include "Support/ByteBuffer.h"
#include "Support/Tavrin_Thread.h"

namespace DownloadSystem {

// To-file mode (StartToFile) returns at once and reports through the listener, the state and
// the byte counter. Memory mode (DownloadToMemory) blocks until the run is over; the data is
// then in GetData, or written to the target when one was given.
//
// Every attempt reconnects. In memory mode it starts from the first byte. In to-file mode an
// attempt whose connection was cut goes on from the bytes already in the file (a "Range"
// request); the server's whole body (200) or a range other than the one asked for starts the
// file over, and so does a CRC failure. The CRC always covers the whole file. The setters must
// not be called while the worker runs.
class FileDownload : public vesk::Tavrin_Thread {
public:
    static constexpr int MaxAttempts = 4;
    static constexpr std::uint16_t DefaultPort = Connection::DefaultPort;
    static constexpr std::uint32_t ReadPieceSize = 64 * 1024;
    // How often a to-file run records what it has, so a later run fetches at most this much
    // again after the program was killed.
    static constexpr std::uint64_t ResumeRecordEvery = 8ull * 1024 * 1024;
    // The longest a server's "Retry-After" holds an attempt back; the attempts stay four.
    static constexpr std::uint32_t MaxRetryAfterSeconds = 30;

    FileDownload();
    // Stops the worker (waiting for it) before the fields go.
    ~FileDownload() override;

    // Host name to connect to; "host:port" selects another port than 443.
    void SetServer(const std::u16string& server);
    // Object path on the server, used as given.
    void SetRemotePath(const std::u16string& path);
    // Text appended verbatim to the remote path (an access-signature query, for example).
    void SetRemoteFile(const std::u16string& suffix);
    void SetTargetPath(const std::u16string& path);
    // Not owned; may be null. Called on the worker's thread.
    void SetListener(IDownloadListener* listener);
    // CRC-32 the data must have, compared on all 32 bits; 0 means no check.
    void SetExpectedCrc(std::uint32_t crc);
    // To-file mode: the SHA-256 the file must have as well as its CRC-32 (a file with the
    // right CRC and another SHA-256 fails the attempt like a wrong CRC). No value: none.
    void SetExpectedSha256(std::optional<Platform::Sha256Digest> digest) {
        expectedSha256_ = digest;
    }
    // To-file mode: the size the body must not exceed (the listed size); a longer body
    // fails the attempt at once and leaves the file empty. No value: no bound.
    void SetExpectedSize(std::optional<std::uint64_t> size);
    // An extra stop condition, polled like the worker's own stop flag (the owner's stop
    // request, for example). Empty: none.
    void SetCancelCheck(std::function<bool()> cancelled);
    // Called on the worker's thread with the target's path just before the worker removes
    // its own part file, so a watch on the folder can tell that removal from others'.
    void SetRemovalNotice(std::function<void(const std::u16string&)> notice);
    // The most a memory-mode reply may hold (MaxReplyBytes unless set lower).
    void SetReplyCap(std::uint64_t bytes) { replyCap_ = bytes; }

    // To-file mode into `target` (its folder is created one level deep when missing).
    // Returns at once; false when the thread could not be started.
    bool StartToFile(const std::u16string& target);
    // Memory mode; returns when the run is over. A non-empty `target` receives the data at
    // the end (and the buffer is emptied).
    void DownloadToMemory(const std::u16string& target = std::u16string());
    // Runs again in the same mode; a non-empty `target` replaces the previous one.
    bool Restart(const std::u16string& target = std::u16string());

    DownloadState GetState() const { return state_.load(std::memory_order_acquire); }
    // Bytes of the target written so far in the current attempt, the bytes kept from a cut
    // attempt included (to-file mode only).
    std::uint64_t GetBytesDone() const { return bytesDone_.load(std::memory_order_acquire); }
    // HTTP status of the last reply the connection read; 0 before any.
    std::int32_t GetErrorCode() const { return errorCode_.load(std::memory_order_acquire); }
    // True when the last run ended with a body read to its end (and, when a CRC was set,
    // matching it). A cut, refused, over-long or stopped run gives false; so does a failed
    // write. Read it only after the run is over.
    bool Succeeded() const { return succeeded_.load(std::memory_order_acquire); }
    // Why a to-file run ended as WriteFailed: a full disk, a target another program
    // holds, or one that cannot be written. Read it only after the run is over.
    Platform::FileFault GetWriteFault() const { return writeFault_; }
    // Memory mode's data; read it only after the run is over.
    vesk::ByteBuffer& GetData() { return data_; }
    const vesk::ByteBuffer& GetData() const { return data_; }
    void FreeData() { data_.Free(); }
    // Flips pause and returns the new value. While paused the worker reads nothing but keeps
    // its connection; resuming goes on at the same byte.
    bool TogglePause();
    bool IsPaused() const { return paused_.load(std::memory_order_acquire); }

    // Memory mode's final write of the data to the target. False when there is no data, or
    // the folder or the file cannot be created (reported), or the write fails (reported).
    bool WriteDataToFile();

    void Run() override;

private:
    // How one to-file attempt ended.
    // Unopened: the part file could not be opened or created (not for want of space);
    // another program may let go of it by the next attempt.
    enum class AttemptEnd { Verified, Cut, Failed, Unopened, LocalFault };

    void RunToFile();
    // What a cut attempt left in the target: its length and the CRC-32 of those bytes, so
    // the next attempt continues only a file that still holds exactly them.
    struct KeptPart {
        std::uint64_t bytes = 0;
        std::uint32_t crc = 0;
        // The object's validator from the reply that brought the bytes: the rest is asked
        // for only if the object is still that one.
        std::string validator;
    };
    // One to-file attempt. `kept` holds what a previous cut attempt left (no bytes: start
    // over); on return, what the next attempt may keep.
    AttemptEnd FetchToFileOnce(KeptPart& kept, std::vector<std::uint8_t>& buffer);
    // The target is as a cut attempt left it: same length, same CRC-32.
    bool StillHolds(const KeptPart& kept) const;
    // What an earlier run left of the target, by its resume record: the file is cut to the
    // bytes the record vouches for (StillHolds then checks them). Nothing without a record.
    KeptPart KeptByAnEarlierRun();
    // A file whose listed CRC and size a resume record can name.
    bool Listed() const { return expectedCrc_ != 0 && expectedSize_.has_value(); }
    // A listed file with a validator can be resumed by a later run.
    bool Resumable(const std::string& validator) const { return Listed() && !validator.empty(); }
    void SaveResumeRecord(const KeptPart& kept) const;
    void DropResumeRecord() const;
    // True without an expected SHA-256, else when the file has it (reported when not).
    bool HasExpectedSha256(BufferedFileWriter& writer, bool continued) const;
    void RunToMemory();
    // Running, and not cancelled by the owner's check.
    bool GoingOn() const;
    void CloseHandles();
    // Opens the connection for the object from byte `from` (0: the whole object) and keeps
    // the reply's status as the worker's error code.
    bool OpenHttpConnection(const KeptPart& kept);
    // The pause before the next attempt: 100 ms, or the wait a refusing server asked for
    // (at most MaxRetryAfter), cut short by a stop.
    void PauseBeforeRetry();
    // Creates the target's folder (one level) when missing; reports and returns false when
    // that fails.
    bool EnsureTargetDirectory();
    // Waits while paused; false when the thread was asked to stop meanwhile.
    bool WaitWhilePaused();
    // One read of the body into `buffer`; a failure (its number in `readError`) and the
    // body's end are logged here, for both modes.
    enum class Piece { Data, End, Failed };
    Piece ReadPiece(std::vector<std::uint8_t>& buffer, std::size_t& got, std::uint32_t& readError);
    void Notify(bool finished);
    void SetState(DownloadState state) { state_.store(state, std::memory_order_release); }

    std::u16string server_;
    std::u16string remotePath_;
    std::u16string target_;
    std::u16string remoteSuffix_;
    std::uint32_t readSize_ = ReadPieceSize;
    std::atomic<std::uint64_t> bytesDone_{0};
    std::uint32_t expectedCrc_ = 0;
    std::optional<std::uint64_t> expectedSize_;
    std::optional<Platform::Sha256Digest> expectedSha256_;
    std::uint64_t replyCap_ = MaxReplyBytes;
    std::function<bool()> cancelled_;
    std::function<void(const std::u16string&)> removalNotice_;
    Platform::FileFault writeFault_ = Platform::FileFault::DiskFull;
    int openError_ = 0;  // why the last attempt's part file did not open
    std::atomic<bool> succeeded_{false};
    std::atomic<bool> paused_{false};
    bool toFile_ = false;
    IDownloadListener* listener_ = nullptr;
    std::atomic<DownloadState> state_{DownloadState::Idle};
    std::atomic<std::int32_t> errorCode_{0};
    vesk::ByteBuffer data_;
    CRC crc_;
    Connection httpConnection_;
};

}  // namespace DownloadSystem
