// Engine cases written once and run against every server backend: the in-process HTTPS
// servers (DownloadCoreTest) and, on Windows, the native reference release server
// (Win32ReferenceServerTest). A backend is a test fixture that serves a release and says:
//
//   Published()            the release files as served, name -> bytes (not the list)
//   Local(name)            where a listed file lands
//   RunDownload(core)      requests the manifest, starts, and waits (bounded) for the end
//   ExpectSetupRan()       setup was started in the download folder
//   ForgetSetupRun()       removes the trace of that, for the next run
//   CountsRequests         whether it sees the requests; then FileRequests(name),
//                          ClearRequests() and ExpectSignedFileTargets()
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "DownloadSystem/DownloadCore.h"
#include "DownloadSystem/DownloadManager.h"
#include "Support/ErrorLog.h"
#include "TestFiles.h"

namespace DownloadSystem::Testing {

template <typename Backend>
class EngineCase : public Backend {};

TYPED_TEST_SUITE_P(EngineCase);

TYPED_TEST_P(EngineCase, DownloadsVerifiesAndStartsSetupThenKeepsCompleteFiles) {
    const std::map<std::string, std::string> published = this->Published();
    std::uint64_t publishedBytes = 0;
    std::vector<std::string> data;  // the data files, in name order
    for (const auto& [name, bytes] : published) {
        publishedBytes += bytes.size();
        if (std::filesystem::path(name).extension() == ".bin") {
            data.push_back(name);
        }
    }
    ASSERT_FALSE(data.empty());
    {
        DownloadCore core;
        this->RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
        for (const auto& [name, bytes] : published) {
            EXPECT_EQ(ReadFile(this->Local(name)), bytes) << name;
        }
        EXPECT_EQ(core.GetManager()->GetTotalBytes(), publishedBytes);
        EXPECT_EQ(core.GetManager()->GetProgressPercent(), 100);
        this->ExpectSetupRan();
    }
    if constexpr (TypeParam::CountsRequests) {
        this->ExpectSignedFileTargets();
        this->ClearRequests();
    }

    // Second run: everything is complete on disk, nothing is fetched.
    this->ForgetSetupRun();
    {
        DownloadCore core;
        this->RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty());
        EXPECT_EQ(core.GetManager()->GetBytesReceived(), 0u);
    }
    if constexpr (TypeParam::CountsRequests) {
        for (const auto& [name, bytes] : published) {
            EXPECT_EQ(this->FileRequests(name), 0u) << name;
        }
        this->ClearRequests();
    }

    // One damaged and (where there are two data files) one missing file: exactly those are
    // fetched again.
    const std::string damaged = data[0];
    const std::string missing = data.size() > 1 ? data[1] : "";
    std::string bytes = published.at(damaged);
    bytes[bytes.size() / 2] ^= 0x5A;
    WriteFile(this->Local(damaged), bytes);
    std::uint64_t refetched = bytes.size();
    if (!missing.empty()) {
        std::filesystem::remove(this->Local(missing));
        refetched += published.at(missing).size();
    }
    {
        DownloadCore core;
        this->RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty());
        EXPECT_EQ(core.GetManager()->GetBytesReceived(), refetched);
    }
    EXPECT_EQ(ReadFile(this->Local(damaged)), published.at(damaged));
    if (!missing.empty()) {
        EXPECT_EQ(ReadFile(this->Local(missing)), published.at(missing));
    }
    if constexpr (TypeParam::CountsRequests) {
        for (const auto& [name, served] : published) {
            const bool fetched = name == damaged || name == missing;
            EXPECT_EQ(this->FileRequests(name), fetched ? 1u : 0u) << name;
        }
    }
    // The engine's own deletion of the damaged copy is not reported as foreign.
    EXPECT_EQ(vesk::GetLogEntries().dump().find("was deleted but it was not"), std::string::npos);
}

REGISTER_TYPED_TEST_SUITE_P(EngineCase, DownloadsVerifiesAndStartsSetupThenKeepsCompleteFiles);

}  // namespace DownloadSystem::Testing
