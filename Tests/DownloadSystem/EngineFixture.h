// A release on in-process HTTPS servers for the engine's tests: a download service
// answering the manifest and log reports, a content server with the file list and
// the files, a program folder, a per-user folder, a hosts file and a stand-in for
// xdg-open that records what it was asked to open.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "DownloadSystem/CRC.h"
#include "DownloadSystem/DownloadCore.h"
#include "DownloadSystem/Endpoints.h"
#include "Platform/Paths.h"
#include "Servers/HttpsServer.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"
#include "TestFiles.h"

namespace DownloadSystem::Testing {

namespace fs = std::filesystem;

inline std::int32_t SignedCrc(const std::string& bytes) {
    return static_cast<std::int32_t>(CRC().Extend(0, bytes.data(), bytes.size()));
}

inline std::string PatternBytes(std::uint64_t size) {
    std::string bytes(size, '\0');
    for (std::uint64_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(TestServers::PatternByte(i));
    }
    return bytes;
}

class EngineFixture : public ::testing::Test {
protected:
    static constexpr char ServicePath[] = "/Sorvan/DownloadManager8.ashx";
    static constexpr char Subdir[] = "Rel";
    static constexpr char Sas[] = "?sv=2019&sig=a%2Bb";
    static constexpr char ProductCode[] = "P1";

    void SetUp() override {
        vesk::ClearErrors();
        root_ = fs::temp_directory_path() /
                ("engine-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        programFolder_ = root_ / "program";
        fs::create_directories(programFolder_);
        fs::create_directories(root_ / "bin");
        appData_ = root_ / "appdata";  // left missing: the engine creates what it needs

        hosts_ = root_ / "hosts";
        WriteFile(hosts_, "127.0.0.1 localhost\n");
        Platform::Paths::OverrideExecutablePath(Wide((programFolder_ / "Sorvan_9_4_X").string()));
        Platform::Paths::OverrideLocalAppDataFolder(Wide(appData_.string()));
        Platform::Paths::OverrideHostsFilePath(Wide(hosts_.string()));

        // xdg-open stand-in: records its arguments, one call per line.
        const fs::path opener = root_ / "bin" / "xdg-open";
        WriteFile(opener, "#!/bin/sh\necho \"$@\" >> '" + (root_ / "opened.txt").string() + "'\n");
        fs::permissions(opener, fs::perms::owner_all);
        savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", ((root_ / "bin").string() + ":" + savedPath_).c_str(), 1);

        Endpoints::OverrideServiceHost(Wide(service_.Address()));
        service_.SetHandler(ServicePath, [this](const TestServers::RecordedRequest& request) {
            if (request.Header("Method") == "LogErrorInfo") {
                return TestServers::Reply::Text(200, "");
            }
            std::lock_guard<std::mutex> lock(manifestMutex_);
            return manifestReply_;
        });
        SetManifest(TestServers::Reply::Text(200, ManifestJson(content_.Address())));
    }

    void TearDown() override {
        Endpoints::OverrideServiceHost(u"");
        Platform::Paths::OverrideExecutablePath(u"");
        Platform::Paths::OverrideLocalAppDataFolder(u"");
        Platform::Paths::OverrideHostsFilePath(u"");
        ::setenv("PATH", savedPath_.c_str(), 1);
        service_.Stop();
        content_.Stop();
        RemoveRoot();
    }

    // The engine starts the opener stand-in detached: on a busy machine it may still be
    // appending its record while the folder is removed, so a failed removal is retried.
    void RemoveRoot() const {
        std::error_code error;
        for (int i = 0; i < 100; ++i) {
            if (fs::remove_all(root_, error) != static_cast<std::uintmax_t>(-1)) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "cannot remove " << root_ << ": " << error.message();
    }

    void SetManifest(TestServers::Reply reply) {
        std::lock_guard<std::mutex> lock(manifestMutex_);
        manifestReply_ = std::move(reply);
    }

    std::string ManifestJson(const std::string& host) const {
        return std::string("{\"product_code\":\"") + ProductCode +
               "\",\"company_name\":\"Vesk\",\"download_subdir\":\"" + Subdir +
               "\",\"host_name\":\"" + host + "\",\"SAS\":\"" + Sas + "\"}";
    }

    // Adds a file to the release; the list is rebuilt from every file added so far.
    void AddFile(const std::string& name, const std::string& bytes, TestServers::Reply reply = {}) {
        reply.body = bytes;
        files_[name] = bytes;
        order_.push_back(name);
        content_.SetReply(std::string("/") + Subdir + "/" + name, reply);
        PublishList();
    }

    void PublishList(const std::string& extra = "") {
        content_.SetReply(ListPath(), TestServers::Reply::Text(200, ListText() + extra));
    }

    // The list of every file added so far, in the order added.
    std::string ListText() const {
        std::string list;
        for (const std::string& name : order_) {
            const std::string& bytes = files_.at(name);
            list += name + "\r\n" + std::to_string(bytes.size()) + "\r\n" +
                    std::to_string(SignedCrc(bytes)) + ";";
        }
        return list;
    }

    std::string ListPath() const { return std::string("/") + Subdir + "/Sorvan_9_4.txt"; }

    // A setup program that writes its working folder into "setup-ran.txt".
    void AddSetupProgram() {
        AddFile("Setup.exe", "#!/bin/sh\npwd > '" + (root_ / "setup-ran.txt").string() + "'\n");
    }

    // The local file of a listed name.
    fs::path Local(const std::string& name) const {
        const std::u16string local =
            MakeLocalName(Wide(name), Wide(std::string("_") + ProductCode));
        return programFolder_ / vesk::StringUtils::ToNarrow(local);
    }

    // Requests the manifest, starts, and waits (bounded) until the download ended.
    void RunDownload(DownloadCore& core) {
        std::u16string error;
        ASSERT_TRUE(core.RequestDownload(error)) << vesk::StringUtils::ToNarrow(error);
        core.StartDownload();
        WaitUntilFinished(core);
    }

    static void WaitUntilFinished(DownloadCore& core) {
        for (int i = 0; i < 1200 && !core.IsFinished(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(core.IsFinished()) << "download did not end within 60 s";
    }

    std::size_t FileRequests(const std::string& name) const {
        return content_.RequestsTo(std::string("/") + Subdir + "/" + name).size();
    }

    // Waits (bounded) for a file another process writes.
    static std::string WaitForFile(const fs::path& path) {
        for (int i = 0; i < 200 && ReadFile(path).empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return ReadFile(path);
    }

    static bool HasErrorMessage(const std::string& text) {
        for (const std::string& message : vesk::GetErrorMessages()) {
            if (message.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    // Any log entry (progress notes and failures included) whose message holds `text`.
    static bool HasLogEntry(const std::string& text) {
        for (const auto& entry : vesk::GetLogEntries()) {
            if (entry.value("message", "").find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    TestServers::HttpsServer service_;
    TestServers::HttpsServer content_;
    std::mutex manifestMutex_;
    TestServers::Reply manifestReply_;
    std::map<std::string, std::string> files_;
    std::vector<std::string> order_;
    fs::path root_;
    fs::path programFolder_;
    fs::path appData_;
    fs::path hosts_;
    std::string savedPath_;
};

}  // namespace DownloadSystem::Testing
