// A self-signed certificate for "localhost" and 127.0.0.1, made for one test
// run; it is its own CA, so clients trust it through its certificate file.
#pragma once

#include <filesystem>

namespace ToolsTest {

struct TestCertificate {
    std::filesystem::path certificateFile;  // PEM; also the CA file for clients
    std::filesystem::path privateKeyFile;   // PEM
};

// Writes cert.pem and key.pem into `folder`. Throws when OpenSSL fails.
TestCertificate MakeTestCertificate(const std::filesystem::path& folder);

}  // namespace ToolsTest
