// Signed content paths: "/" + signature + "," + expiry + "/" + sub-directory + ...,
// where the signature covers the expiry, the sub-directory and a shared secret.
#pragma once

#include <string>
#include <string_view>

namespace Tools {

// The signature the client puts in front of a release's sub-directory:
// Base64 of MD5(expiry + "/" + subdir + secret) with "/" written as "_" and "+"
// as "-". The sub-directory is taken as the release describes it (the client
// lower-cases it in the path only after signing).
std::string SignatureFor(std::string_view expiryText, std::string_view subdir,
                         std::string_view secret);

// Compares two signatures in time independent of where they differ.
bool SignaturesEqual(std::string_view a, std::string_view b);

}  // namespace Tools
