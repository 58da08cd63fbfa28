#pragma once

// Text forms of a loaded metainfo file for the mirel-torrent-info tool.

#include "metainfo/TorrentFile.h"

#include <optional>
#include <string>
#include <string_view>

namespace mirel {

// A JSON string literal (quotes included) of a byte string. Valid UTF-8 is
// kept, control characters, '"' and '\' are escaped, and each byte that is
// not part of valid UTF-8 becomes the lone surrogate \udcXX (XX = the byte),
// the "surrogateescape" scheme: lossless, since valid UTF-8 never yields a
// lone surrogate (Python: s.encode("utf-8", "surrogateescape") gives the bytes).
std::string JsonString(std::string_view bytes);

// Seconds since 1970 of the creation date, or nothing when it was absent.
std::optional<long long> CreationSeconds(const TTorrentFile &torrent);

// One line of JSON (no newline) with the load's result and fields.
std::string TorrentJson(const std::string &file, bool ok, const TTorrentFile &torrent);

// A readable multi-line summary; control bytes are shown as \xNN so a hostile
// name cannot drive the terminal.
std::string TorrentSummary(const std::string &file, bool ok, const TTorrentFile &torrent);

} // namespace mirel
