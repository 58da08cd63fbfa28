#include "SetupFile.h"

#include "metainfo/MessageDigests.h"
#include "metainfo/TorrentFile.h"

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace mirel {

bool IsSafeSetupFileName(const std::string &name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f || c == '/' || c == '\\')
      return false;
  }
  return true;
}

bool SetupFileMatchesMetainfo(const std::string &path, const TTorrentFile &metainfo) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat st {};
  const bool sizeOk = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      static_cast<int64_t>(st.st_size) == metainfo.TotalLength;
  const int64_t pieceLength = metainfo.PieceLength;
  // Without pieces there is nothing to prove the content with, except for an
  // empty file.
  bool ok =
      sizeOk && (metainfo.TotalLength == 0 ||
                 (pieceLength > 0 && static_cast<int64_t>(metainfo.Pieces.size()) ==
                                         (metainfo.TotalLength + pieceLength - 1) / pieceLength));
  if (ok && metainfo.TotalLength > 0) {
    const size_t chunk = 1 << 16;
    std::unique_ptr<char[]> buf(new char[chunk]);
    int64_t offset = 0;
    for (const TTorrentPiece &piece : metainfo.Pieces) {
      const int64_t want = std::min(pieceLength, metainfo.TotalLength - offset);
      TSHA1 sha;
      for (int64_t done = 0; done < want && ok;) {
        const auto part = static_cast<size_t>(std::min<int64_t>(chunk, want - done));
        const ssize_t n = pread(fd, buf.get(), part, offset + done);
        if (n <= 0) {
          ok = false;
          break;
        }
        sha.Update(buf.get(), static_cast<size_t>(n));
        done += n;
      }
      if (!ok)
        break;
      sha.Finish();
      if (sha.Digest() != piece.Hash) {
        ok = false;
        break;
      }
      offset += want;
    }
  }
  close(fd);
  return ok;
}

} // namespace mirel
