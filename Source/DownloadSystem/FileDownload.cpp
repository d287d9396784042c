// The file download worker: to-file and memory runs, attempts, pause and CRC checks.
#include "DownloadSystem/FileDownload.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "DownloadSystem/BufferedFileWriter.h"
#include "DownloadSystem/HttpVerb.h"
#include "DownloadSystem/ResumeRecord.h"
#include "Platform/Files.h"
#include "Platform/Http.h"
#include "Platform/SystemError.h"
#include "Support/CappedBuffer.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"
#include "Support/StructuredException.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {

constexpr auto PausePoll = std::chrono::milliseconds(100);
constexpr auto RetryPause = std::chrono::milliseconds(100);

// The folder part of a target: everything before its last "/" (empty when there is none).
std::u16string DirectoryOf(const std::u16string& path) {
    const std::size_t cut = path.rfind(u'/');
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

std::u16string Decimal(std::int64_t value) {
    return StringUtils::ToWide(std::to_string(value));
}

std::u16string IncorrectCrcText(const std::u16string& target, std::uint32_t expected,
                                std::uint32_t found, std::uint64_t bytesRead) {
    return u"Download: " + target + u" incorrect CRC. Expected: " +
           Decimal(static_cast<std::int32_t>(expected)) + u" found: " +
           Decimal(static_cast<std::int32_t>(found)) + u" bytes read: " +
           Decimal(static_cast<std::int64_t>(bytesRead)) + u"Retrying download";
}

void LogMalfunction(const char* what) {
    VESK_LOG_FAILURE(
        std::string("FildeDownload: Obviously a major malfunction. Stopping download. Message: ") +
            what,
        vesk::ErrorNumber::DownloadMalfunction);
}

}  // namespace

FileDownload::FileDownload() {
    httpConnection_.SetCancelCheck([this] { return !GoingOn(); });
}

FileDownload::~FileDownload() {
    Stop(Infinite);
    CloseHandles();
}

void FileDownload::SetServer(const std::u16string& server) {
    server_ = server;
}

void FileDownload::SetRemotePath(const std::u16string& path) {
    remotePath_ = path;
}

void FileDownload::SetRemoteFile(const std::u16string& suffix) {
    remoteSuffix_ = suffix;
}

void FileDownload::SetTargetPath(const std::u16string& path) {
    target_ = path;
}

void FileDownload::SetListener(IDownloadListener* listener) {
    listener_ = listener;
}

void FileDownload::SetExpectedCrc(std::uint32_t crc) {
    expectedCrc_ = crc;
}

void FileDownload::SetExpectedSize(std::optional<std::uint64_t> size) {
    expectedSize_ = size;
}

void FileDownload::SetCancelCheck(std::function<bool()> cancelled) {
    cancelled_ = std::move(cancelled);
}

void FileDownload::SetRemovalNotice(std::function<void(const std::u16string&)> notice) {
    removalNotice_ = std::move(notice);
}

bool FileDownload::GoingOn() const {
    return IsRunning() && !(cancelled_ && cancelled_());
}

bool FileDownload::StartToFile(const std::u16string& target) {
    target_ = target;
    toFile_ = true;
    return Start();
}

void FileDownload::DownloadToMemory(const std::u16string& target) {
    target_ = target;
    toFile_ = false;
    if (Start())
        Wait(Infinite);
}

bool FileDownload::Restart(const std::u16string& target) {
    if (!target.empty())
        target_ = target;
    return Start();
}

bool FileDownload::TogglePause() {
    bool current = paused_.load(std::memory_order_acquire);
    while (!paused_.compare_exchange_weak(current, !current, std::memory_order_acq_rel)) {
    }
    return !current;
}

void FileDownload::CloseHandles() {
    httpConnection_.CloseHandles();
}

bool FileDownload::OpenHttpConnection(const KeptPart& kept) {
    const bool open = httpConnection_.OpenHttpConnection(
        {server_, remotePath_, remoteSuffix_, target_, kept.bytes, expectedSize_, kept.validator});
    errorCode_.store(static_cast<std::int32_t>(httpConnection_.GetStatus()),
                     std::memory_order_release);
    return open;
}

void FileDownload::PauseBeforeRetry() {
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(RetryPause);
    if (const auto asked = httpConnection_.RetryAfter(); asked && *asked > 0) {
        const auto seconds = std::min<std::uint64_t>(*asked, MaxRetryAfterSeconds);
        wait = std::max(wait, std::chrono::milliseconds(seconds * 1000));
        VESK_LOG_INFO("FileDownload: the server asks to wait " + std::to_string(seconds) +
                      " s before the next attempt");
    }
    const auto until = std::chrono::steady_clock::now() + wait;
    for (auto now = std::chrono::steady_clock::now(); now < until && GoingOn();
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(PausePoll, until - now));
    }
}

void FileDownload::Notify(bool finished) {
    if (listener_ == nullptr)
        return;
    if (finished)
        listener_->OnDownloadFinished(this);
    else
        listener_->OnDownloadProgress(this);
}

bool FileDownload::WaitWhilePaused() {
    while (paused_.load(std::memory_order_acquire)) {
        if (!GoingOn())
            return false;
        std::this_thread::sleep_for(PausePoll);
    }
    return GoingOn();
}

FileDownload::Piece FileDownload::ReadPiece(std::vector<std::uint8_t>& buffer, std::size_t& got,
                                            std::uint32_t& readError) {
    got = 0;
    Platform::HttpRequest& request = httpConnection_.Request();
    if (!request.Read(buffer.data(), buffer.size(), got)) {
        readError = request.LastError();
        vesk::LogFailure(u"InternetReadFile Failed for: " + target_, static_cast<int>(readError),
                         __FILE__, __LINE__);
        return Piece::Failed;
    }
    if (got == 0) {
        vesk::LogInfo(u"Finished file: " + target_, __FILE__, __LINE__);
        return Piece::End;
    }
    return Piece::Data;
}

bool FileDownload::EnsureTargetDirectory() {
    const std::u16string directory = DirectoryOf(target_);
    if (directory.empty() || Platform::Files::Exists(directory))
        return true;
    if (Platform::Files::MakeDirectory(directory))
        return true;
    vesk::ReportError(u"Unable to create directory: " + directory, Platform::LastSystemError(),
                      __FILE__, __LINE__);
    return false;
}

void FileDownload::Run() {
    vesk::InstallStructuredExceptionTranslator();
    if (toFile_) {
        RunToFile();
        return;
    }
    try {
        RunToMemory();
    } catch (const std::exception& exception) {
        LogMalfunction(exception.what());
        SetState(DownloadState::Idle);
        CloseHandles();
    }
}

void FileDownload::RunToFile() {
    succeeded_.store(false, std::memory_order_release);
    if (!EnsureTargetDirectory())
        return;
    SetState(DownloadState::Downloading);

    std::vector<std::uint8_t> buffer;
    KeptPart kept = KeptByAnEarlierRun();
    AttemptEnd end = AttemptEnd::Failed;
    for (int attempt = 1;; ++attempt) {
        try {
            end = FetchToFileOnce(kept, buffer);
        } catch (const std::exception& exception) {
            LogMalfunction(exception.what());
            SetState(DownloadState::Idle);
            CloseHandles();
            return;
        }
        if (end == AttemptEnd::Verified) {
            DropResumeRecord();
            succeeded_.store(true, std::memory_order_release);
            break;
        }
        // The same disk would refuse the next attempt just as well.
        if (end == AttemptEnd::LocalFault) {
            SetState(DownloadState::WriteFailed);
            Notify(true);
            return;
        }
        if (!GoingOn() || attempt >= MaxAttempts)
            break;
    }
    // A part file that no attempt could open ends the download as a disk fault does.
    if (end == AttemptEnd::Unopened && GoingOn()) {
        vesk::ReportError(u"Couldn't create part file: " + target_, openError_, __FILE__, __LINE__);
        SetState(DownloadState::WriteFailed);
        Notify(true);
        return;
    }
    SetState(DownloadState::Finished);
    Notify(true);
}

FileDownload::KeptPart FileDownload::KeptByAnEarlierRun() {
    if (!Listed())
        return {};
    const auto record = ResumeRecord::Load(target_, remotePath_, *expectedSize_, expectedCrc_);
    std::uint64_t onDisk = 0;
    if (!record || record->validator.empty() || record->goodBytes == 0 ||
        !Platform::Files::GetSize(target_, onDisk) || onDisk < record->goodBytes)
        return {};
    // Bytes written after the record are not vouched for.
    if (onDisk > record->goodBytes) {
        Platform::File file = Platform::File::OpenForAppending(target_);
        const bool cut = file.IsOpen() && file.Truncate(record->goodBytes);
        if (!file.Close() || !cut)
            return {};
    }
    vesk::LogInfo(u"Download: " + target_ + u" goes on from byte " +
                      Decimal(static_cast<std::int64_t>(record->goodBytes)) +
                      u", where an earlier run left it",
                  __FILE__, __LINE__);
    return {record->goodBytes, record->goodCrc, record->validator};
}

void FileDownload::SaveResumeRecord(const KeptPart& kept) const {
    if (!Resumable(kept.validator) || kept.bytes == 0)
        return;
    const ResumeRecord record{remotePath_, *expectedSize_, expectedCrc_,
                              kept.bytes,  kept.crc,       kept.validator};
    if (!record.Save(target_))
        vesk::LogFailure(u"Download: could not record how far " + target_ + u" came",
                         Platform::LastSystemError(), __FILE__, __LINE__);
}

void FileDownload::DropResumeRecord() const {
    const std::u16string path = ResumeRecord::PathFor(target_);
    if (!Platform::Files::Exists(path))
        return;
    if (removalNotice_)
        removalNotice_(path);
    Platform::Files::Remove(path);
}

bool FileDownload::StillHolds(const KeptPart& kept) const {
    std::uint64_t onDisk = 0;
    std::uint32_t crc = 0;
    return Platform::Files::GetSize(target_, onDisk) && onDisk == kept.bytes &&
           crc_.ComputeFile(target_, crc) && crc == kept.crc;
}

FileDownload::AttemptEnd FileDownload::FetchToFileOnce(KeptPart& kept,
                                                       std::vector<std::uint8_t>& buffer) {
    // Only bytes still on disk as this run left them can be continued: another program may
    // have rewritten the file at the same length, and without a listed CRC nothing would
    // catch the mix later.
    if (kept.bytes > 0 && !StillHolds(kept))
        kept = {};
    bytesDone_.store(kept.bytes, std::memory_order_release);

    if (!OpenHttpConnection(kept)) {
        if (httpConnection_.RangeRefused())
            kept = {};
        PauseBeforeRetry();
        return AttemptEnd::Failed;
    }
    // A continued file keeps the validator of the reply its first bytes came in.
    const std::string validator =
        httpConnection_.RangeAnswered() ? kept.validator : httpConnection_.Validator();
    std::uint64_t written = 0;
    std::uint32_t crcSoFar = 0;
    Platform::File file;
    if (httpConnection_.RangeAnswered()) {
        file = Platform::File::OpenForAppending(target_);
        written = kept.bytes;
        crcSoFar = kept.crc;
    } else {
        if (kept.bytes > 0)
            VESK_LOG_INFO("The server sent the whole file; starting it over");
        DropResumeRecord();
        file = Platform::File::CreateForWriting(target_);
        bytesDone_.store(0, std::memory_order_release);
    }
    kept = {};
    if (!file.IsOpen()) {
        openError_ = Platform::LastSystemError();
        writeFault_ = Platform::ClassifyFileError(openError_);
        CloseHandles();
        // A full disk refuses every attempt alike. A file another program holds (a virus
        // scanner reading it, a setup still running) or one deleted since the last attempt
        // may open on the next one.
        if (writeFault_ == Platform::FileFault::DiskFull) {
            vesk::ReportError(u"Couldn't create part file: " + target_, openError_, __FILE__,
                              __LINE__);
            return AttemptEnd::LocalFault;
        }
        vesk::LogFailure(u"Couldn't create part file: " + target_, openError_, __FILE__, __LINE__);
        std::this_thread::sleep_for(RetryPause);
        return AttemptEnd::Unopened;
    }

    BufferedFileWriter writer(file, crcSoFar);
    const bool continued = written > 0;
    // A continued file's first bytes came in an earlier attempt; it is hashed from disk.
    if (expectedSha256_ && !continued)
        writer.KeepSha256();
    buffer.resize(readSize_);
    bool readFailed = false;
    bool reachedEnd = false;
    bool tooLong = false;
    bool writeFailed = false;
    std::uint64_t recorded = written;
    int writeError = 0;
    std::uint32_t readError = 0;
    while (httpConnection_.IsOpen() && GoingOn() && !reachedEnd && !readFailed && !tooLong &&
           !writeFailed) {
        if (!WaitWhilePaused())
            break;
        std::size_t got = 0;
        const Piece piece = ReadPiece(buffer, got, readError);
        if (piece == Piece::Failed) {
            readFailed = true;
        } else if (piece == Piece::End) {
            reachedEnd = true;
        } else if (expectedSize_ && written + got > *expectedSize_) {
            vesk::LogFailure(u"Download: " + target_ + u" is longer than its listed " +
                                 Decimal(static_cast<std::int64_t>(*expectedSize_)) +
                                 u" bytes; attempt stopped",
                             vesk::ErrorNumber::RetryingDownload, __FILE__, __LINE__);
            tooLong = true;
        } else if (!writer.Write(buffer.data(), got)) {
            writeError = Platform::LastSystemError();
            VESK_REPORT_ERROR("Couldn't write part file", writeError);
            writeFailed = true;
        } else {
            written += got;
            bytesDone_.store(written, std::memory_order_release);
            Notify(false);
            if (Resumable(validator) && written - recorded >= ResumeRecordEvery) {
                // Only bytes handed to the file are vouched for.
                if (!writer.Flush()) {
                    writeError = Platform::LastSystemError();
                    VESK_REPORT_ERROR("Couldn't write part file", writeError);
                    writeFailed = true;
                } else {
                    SaveResumeRecord({written, writer.Crc(), validator});
                    recorded = written;
                }
            }
        }
    }
    // A late write-back failure (full disk) shows only when flushing or closing.
    if (!writeFailed && !writer.Flush()) {
        writeError = Platform::LastSystemError();
        VESK_REPORT_ERROR("Couldn't write part file", writeError);
        writeFailed = true;
    }
    if (!file.Close() && !writeFailed) {
        writeError = Platform::LastSystemError();
        VESK_REPORT_ERROR("Couldn't write part file", writeError);
        writeFailed = true;
    }
    const bool cut = readFailed && httpConnection_.IsOpen();
    if (cut)
        VESK_LOG_FAILURE("Error reading file, reconnecting.", static_cast<int>(readError));
    CloseHandles();

    if (writeFailed) {
        writeFault_ = Platform::ClassifyFileError(writeError);
        DropResumeRecord();
        // A part file is never complete; removing it gives the space back.
        if (removalNotice_)
            removalNotice_(target_);
        Platform::Files::Remove(target_);
        return AttemptEnd::LocalFault;
    }
    if (tooLong) {
        // Nothing of an over-long body is kept, so the file never holds more than listed.
        DropResumeRecord();
        Platform::File::CreateForWriting(target_);
        bytesDone_.store(0, std::memory_order_release);
        return AttemptEnd::Failed;
    }
    if (!reachedEnd) {
        // A cut after every listed byte arrived may still have brought the whole file.
        const bool allArrived =
            cut && expectedCrc_ != 0 && expectedSize_ && written == *expectedSize_;
        if (!allArrived) {
            // A cut transfer goes on from what arrived; a stop keeps the file as it is, and
            // a later run goes on from there.
            SaveResumeRecord({written, writer.Crc(), validator});
            if (cut)
                kept = {written, writer.Crc(), validator};
            return AttemptEnd::Cut;
        }
    }
    if (expectedCrc_ == 0) {
        // Without a checksum only a body read to its end counts: a cut connection would
        // otherwise leave a short file taken as complete.
        return HasExpectedSha256(writer, continued) ? AttemptEnd::Verified : AttemptEnd::Failed;
    }
    // The bytes written were checked on their way out; a continued file also holds bytes
    // of an earlier attempt, so it is read back whole.
    std::uint32_t found = writer.Crc();
    if (continued)
        crc_.ComputeFile(target_, found);
    if (found == expectedCrc_ && HasExpectedSha256(writer, continued))
        return AttemptEnd::Verified;
    if (found != expectedCrc_)
        vesk::LogFailure(IncorrectCrcText(target_, expectedCrc_, found, written),
                         vesk::ErrorNumber::RetryingDownload, __FILE__, __LINE__);
    // The bytes on disk are no good start for a later run either.
    DropResumeRecord();
    return AttemptEnd::Failed;
}

bool FileDownload::HasExpectedSha256(BufferedFileWriter& writer, bool continued) const {
    if (!expectedSha256_)
        return true;
    Platform::Sha256Digest found{};
    bool hashed = false;
    if (continued) {
        Platform::File file = Platform::File::OpenForReading(target_);
        Platform::Sha256 hash;
        std::uint32_t crc = 0;
        std::uint64_t bytes = 0;
        hashed =
            file.IsOpen() && crc_.ComputeOpenFile(file, crc, bytes, &hash) && hash.Final(found);
    } else {
        hashed = writer.FinishSha256(found);
    }
    if (hashed && found == *expectedSha256_)
        return true;
    // The CRC-32 can be forged by a few chosen bytes; the SHA-256 cannot.
    vesk::LogFailure(u"Download: " + target_ + u" has the wrong SHA-256; attempt failed",
                     vesk::ErrorNumber::RetryingDownload, __FILE__, __LINE__);
    return false;
}

void FileDownload::RunToMemory() {
    succeeded_.store(false, std::memory_order_release);
    SetState(DownloadState::Downloading);
    bool good = false;
    vesk::CappedBuffer received(replyCap_);
    for (int attempt = 1;; ++attempt) {
        data_.Free();
        received.Free();
        good = false;
        bool readFailed = false;
        bool reachedEnd = false;
        bool tooLarge = false;
        std::uint32_t readError = 0;

        if (!OpenHttpConnection(KeptPart{})) {
            PauseBeforeRetry();
        } else {
            std::vector<std::uint8_t> buffer(readSize_);
            while (httpConnection_.IsOpen() && GoingOn() && !reachedEnd && !readFailed) {
                if (!WaitWhilePaused())
                    break;
                std::size_t got = 0;
                const Piece piece = ReadPiece(buffer, got, readError);
                if (piece == Piece::Failed) {
                    readFailed = true;
                } else if (piece == Piece::End) {
                    reachedEnd = true;
                } else if (!received.Append(buffer.data(), got)) {
                    vesk::LogFailure(u"FileDownload: reply larger than " +
                                         Decimal(static_cast<std::int64_t>(replyCap_)) +
                                         u" bytes, download stopped for: " + target_,
                                     static_cast<int>(Platform::HttpError::NotEnoughMemory),
                                     __FILE__, __LINE__);
                    tooLarge = true;
                    break;
                } else {
                    Notify(false);
                }
            }
            if (!tooLarge && !received.Empty() && !data_.Append(received.Data(), received.Size()))
                VESK_LOG_FAILURE("FileDownload: out of memory for the reply of " +
                                     StringUtils::ToNarrow(target_),
                                 static_cast<int>(Platform::HttpError::NotEnoughMemory));
            received.Free();

            std::uint32_t found = 0;
            if (reachedEnd && !data_.Empty()) {
                if (expectedCrc_ != 0) {
                    found = crc_.Compute(data_.Data(), static_cast<std::int32_t>(data_.Size()));
                    good = found == expectedCrc_;
                    VESK_LOG_INFO(std::string("Checking CRC: ") + (good ? "1" : "0"));
                } else {
                    VESK_LOG_INFO("No CRC checked");
                    good = true;
                }
            }
            if (readFailed)
                VESK_LOG_FAILURE("Error reading file, reconnecting.", static_cast<int>(readError));
            if (reachedEnd && data_.Empty() && expectedCrc_ == 0)
                good = true;
            if (!good && httpConnection_.IsOpen() && expectedCrc_ != 0) {
                vesk::LogFailure(IncorrectCrcText(target_, expectedCrc_, found, data_.Size()),
                                 vesk::ErrorNumber::RetryingDownload, __FILE__, __LINE__);
            }
            CloseHandles();
            // The same object would be just as large again: no further attempts.
            if (tooLarge)
                break;
        }
        if (good || !GoingOn() || attempt >= MaxAttempts)
            break;
    }

    // Only a body read to its end counts: a cut last attempt leaves nothing behind.
    if (!good)
        data_.Free();
    if (good) {
        vesk::LogInfo(u"Download: " + target_ + u" correct CRC. Download succesful.", __FILE__,
                      __LINE__);
        if (!target_.empty() && GoingOn()) {
            const bool written = WriteDataToFile();
            data_.Free();
            if (!written) {
                SetState(DownloadState::WriteFailed);
                Notify(false);
                return;
            }
        }
        succeeded_.store(GoingOn(), std::memory_order_release);
    }
    SetState(DownloadState::Finished);
    Notify(true);
}

bool FileDownload::WriteDataToFile() {
    if (data_.Empty())
        return false;
    if (!EnsureTargetDirectory())
        return false;
    Platform::File file = Platform::File::CreateForWriting(target_);
    if (!file.IsOpen()) {
        vesk::ReportError(u"Couldn't create part file: " + target_, Platform::LastSystemError(),
                          __FILE__, __LINE__);
        return false;
    }
    if (!file.Write(data_.Data(), static_cast<std::size_t>(data_.Size()))) {
        VESK_REPORT_ERROR("Couldn't write part file", Platform::LastSystemError());
        return false;
    }
    // A late write-back failure (full disk) shows only when closing.
    if (!file.Close()) {
        VESK_REPORT_ERROR("Couldn't write part file", Platform::LastSystemError());
        return false;
    }
    return true;
}

}  // namespace DownloadSystem
