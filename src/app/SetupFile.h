#pragma once

#include <string>

namespace mirel {

class TTorrentFile;

// The setup file's name comes from the server's metainfo and becomes a path
// in the work folder and next to the downloader: it must be one plain file
// name. Refused: empty, "." and "..", and any "/", "\", NUL or control byte.
bool IsSafeSetupFileName(const std::string &name);

// True when the file holds exactly the content the metainfo describes: its
// length equals TotalLength and every piece's SHA-1 matches.
bool SetupFileMatchesMetainfo(const std::string &path, const TTorrentFile &metainfo);

} // namespace mirel
