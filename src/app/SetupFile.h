#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace mirel {

class TTorrentFile;

// The setup file's name comes from the server's metainfo and becomes a path
// in the work folder and next to the downloader: it must be one plain file
// name. Refused: empty, "." and "..", and any "/", "\", NUL or control byte.
bool IsSafeSetupFileName(const std::string &name);

// True when the file holds exactly the content the metainfo describes: its
// length equals TotalLength and every piece's SHA-1 matches.
bool SetupFileMatchesMetainfo(const std::string &path, const TTorrentFile &metainfo);

// The same check, done while a fetch writes the file: a worker thread hashes
// each piece as soon as its bytes are written, reading them back while they
// are still in the page cache, so that after the fetch only the rest is left.
// BytesWritten tells it how far the file is written; Finish hashes whatever
// is left and gives the verdict of SetupFileMatchesMetainfo for the file as
// it is then. The metainfo must outlive the object.
class TPieceCheck {
public:
  TPieceCheck(std::string path, const TTorrentFile &metainfo);
  ~TPieceCheck();
  TPieceCheck(const TPieceCheck &) = delete;
  TPieceCheck &operator=(const TPieceCheck &) = delete;

  // Bytes at the start of the file that are written and will not change.
  void BytesWritten(uint64_t count);
  // Blocks until every piece is hashed; call once the writing has ended.
  bool Finish();

private:
  void Run();
  bool HashNextPiece(int fd, char *buffer);

  const std::string Path_;
  const TTorrentFile &Metainfo_;
  std::mutex Mutex_;
  std::condition_variable Wake_;
  uint64_t Written_ = 0; // guarded by Mutex_
  bool Final_ = false;   // guarded by Mutex_: hash to the end now
  bool Stop_ = false;    // guarded by Mutex_: give up
  // Owned by the worker until it ends.
  size_t NextPiece_ = 0;
  int64_t NextOffset_ = 0;
  bool Ok_ = true;
  std::thread Worker_;
};

} // namespace mirel
