// Byte sizes, random identifiers, URL parsing, splitting and UTF-8 conversion.
#include "Support/Formatting.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <random>

#include "Support/TextConversion.h"

namespace vesk {

std::string FormatByteSize(std::uint64_t bytes) {
    constexpr std::uint64_t KiB = 1024;
    constexpr std::uint64_t MiB = KiB * 1024;
    constexpr std::uint64_t GiB = MiB * 1024;
    char buffer[64];
    if (bytes < KiB) {
        std::snprintf(buffer, sizeof buffer, "%" PRIu64 " B", bytes);
    } else if (bytes < MiB) {
        std::snprintf(buffer, sizeof buffer, "%.2f kB",
                      static_cast<double>(static_cast<float>(bytes) / 1024.0f));
    } else if (bytes < GiB) {
        std::snprintf(buffer, sizeof buffer, "%.2f MB", static_cast<double>(bytes) / MiB);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.2f GB", static_cast<double>(bytes) / GiB);
    }
    return buffer;
}

std::string RandomString(std::uint32_t length, std::string_view alphabet) {
    if (length == 0 || alphabet.empty()) {
        return {};
    }
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch();
    std::mt19937 generator(static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(ticks).count()));
    std::string out;
    out.reserve(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        out += alphabet[generator() % alphabet.size()];
    }
    return out;
}

UrlParts ParseUrl(std::u16string_view url) {
    UrlParts parts;
    if (url.empty()) {
        return parts;
    }
    constexpr auto npos = std::u16string_view::npos;
    const std::size_t queryStart = std::min(url.find(u'?'), url.size());

    std::size_t hostStart = 0;
    const std::size_t colon = url.find(u':');
    if (colon != npos && url.size() - colon >= 4 && url.substr(colon, 3) == u"://") {
        parts.protocol = url.substr(0, colon);
        hostStart = colon + 3;
    }

    const std::size_t slash = url.find(u'/', hostStart);
    const bool hasPath = slash != npos;
    const std::size_t pathStart = hasPath ? slash : url.size();
    const std::size_t hostEnd = hasPath ? pathStart : queryStart;

    std::size_t portStart = npos;
    if (hostStart < hostEnd) {
        const std::size_t found = url.substr(hostStart, hostEnd - hostStart).find(u':');
        if (found != npos) {
            portStart = hostStart + found;
        }
    }
    const std::size_t hostStop = portStart != npos ? portStart : hostEnd;
    if (hostStop > hostStart) {
        parts.host = url.substr(hostStart, hostStop - hostStart);
    }
    if (portStart != npos) {
        const std::size_t portEnd = hasPath ? pathStart : queryStart;
        if (portEnd > portStart + 1) {
            parts.port = url.substr(portStart + 1, portEnd - portStart - 1);
        }
    }
    // A "?" before the first "/" ends the path at nothing: the "/" belongs to the query.
    if (hasPath && queryStart > pathStart) {
        parts.path = url.substr(pathStart, queryStart - pathStart);
    }
    if (queryStart < url.size()) {
        parts.query = url.substr(queryStart);
    }
    return parts;
}

std::vector<std::string> SplitView(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> pieces;
    if (text.empty()) {
        return pieces;
    }
    if (delimiter.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t position = 0;
    for (std::size_t at = text.find(delimiter); at != std::string_view::npos;
         at = text.find(delimiter, position)) {
        if (at > position) {
            pieces.emplace_back(text.substr(position, at - position));
        }
        position = at + delimiter.size();
    }
    if (pieces.empty()) {
        pieces.emplace_back(text);
    } else {
        pieces.emplace_back(text.substr(position));
    }
    return pieces;
}

std::string WideToUtf8(std::u16string_view text) {
    return Text::Utf16ToUtf8(text);
}

std::u16string Utf8ToWide(std::string_view text) {
    return Text::Utf8ToUtf16(text);
}

}  // namespace vesk
