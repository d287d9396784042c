// Adds a CA certificate (PEM or DER file) to the local machine's root store. Meant for the
// Wine prefixes that the Windows tests and demo make for their run, so WinINet trusts the
// test servers' certificates while verification stays on; never run it on a real machine.
//   TrustCertificate.exe CA_FILE
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: TrustCertificate CA_FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.empty()) {
        std::fprintf(stderr, "TrustCertificate: cannot read the certificate file\n");
        return 1;
    }
    // PEM text becomes DER; a DER file passes through.
    std::vector<BYTE> der(file.size());
    DWORD derSize = static_cast<DWORD>(der.size());
    if (CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &derSize, nullptr, nullptr)) {
        der.resize(derSize);
    } else {
        der.assign(file.begin(), file.end());
    }
    const HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "TrustCertificate: cannot open the root store (%lu)\n",
                     GetLastError());
        return 1;
    }
    const bool added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "TrustCertificate: the certificate was not added (%lu)\n", error);
        return 1;
    }
    return 0;
}
