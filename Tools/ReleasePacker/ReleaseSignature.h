// The publisher's seal on a release: a key pair for ECDSA P-256 and the signature file
// written beside the file list, `<list name>.sig`.
//
// The file is ASCII text, lines ending in "\n", in this order and nothing else:
//
//     release-signature 1
//     release <release name>
//     version <release version, decimal, 1 or more>
//     list-sha256 <SHA-256 of the exact list text, 64 lower-case hex digits>
//     signature <r || s, 128 lower-case hex digits>
//
// The signature covers the bytes of the first four lines, their line ends included
// (ECDSA P-256 over SHA-256). The client accepts a list only under a version at
// least as high as the last it accepted for that release.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace Tools {

// Makes a new key pair: the private key (PKCS#8 PEM, readable by its owner only) at
// `privateKeyPath`, and the public key as 130 hex digits (the uncompressed point)
// in `publicKeyHex`. False with `error` when anything fails; nothing is kept then.
bool MakeSigningKey(const std::filesystem::path& privateKeyPath, std::string& publicKeyHex,
                    std::string& error);

// The public key of a private key file, as MakeSigningKey gives it.
bool ReadPublicKeyHex(const std::filesystem::path& privateKeyPath, std::string& publicKeyHex,
                      std::string& error);

// The text of the signature file for `listText`, signed with the key at
// `privateKeyPath`. False with `error` when the key cannot be read or used.
bool SignFileList(const std::filesystem::path& privateKeyPath, const std::string& release,
                  std::uint64_t version, const std::string& listText, std::string& signatureText,
                  std::string& error);

// The SHA-256 of `data` as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& data);

}  // namespace Tools
