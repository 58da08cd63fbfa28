#pragma once

#include "metainfo/Hashes.h"
#include "metainfo/Object.h"
#include "metainfo/Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mirel {

// Date-time value (days since 1899-12-30, fraction = time of day) of the UTC
// moment `seconds` after 1970-01-01 00:00:00.
double EpochSecondsToDateTime(std::int32_t seconds);

class TTorrentSubFile : public TObject {
public:
  TTorrentSubFile(std::string name, std::string path, std::int64_t length, std::int64_t start)
      : Name(std::move(name)), Path(std::move(path)), Length(length), Start(start) {}

  std::string Name; // last element of "path"
  std::string Path; // the other elements, each followed by "\"
  std::int64_t Length = 0;
  std::int64_t Start = 0; // offset within the concatenation of all files
};

class TTorrentPiece : public TObject {
public:
  TTorrentPiece(std::string hashHex, std::string hash)
      : HashHex(std::move(hashHex)), Hash(std::move(hash)) {}

  std::string HashHex; // 40 lowercase hex digits
  std::string Hash;    // 20 raw bytes
};

// One metainfo (.torrent) file in memory.
class TTorrentFile : public TObject {
public:
  TTorrentFile();
  ~TTorrentFile() override;
  TTorrentFile(const TTorrentFile &) = delete;
  TTorrentFile &operator=(const TTorrentFile &) = delete;

  // Decodes and checks the metainfo at the stream's position. Never raises:
  // false when the data is not a bencoded dictionary or the load failed; every
  // problem is recorded in Errors. Starts from a cleared object.
  bool LoadFromStream(TStream &stream);
  void Clear();

  std::string Announce;
  std::string Name; // info "name" without a trailing ".torrent"
  std::string Comment;
  std::int64_t TotalLength = 0;
  double CreationDate = 0; // UTC date-time; 0 when absent
  std::int32_t FileCount = 0;
  std::vector<std::string> Errors;
  std::unique_ptr<TObjectHash> Root;
  std::string InfoHashHex; // 40 lowercase hex digits
  std::string InfoHash;    // 20 raw bytes
  bool IsMultiFile = false;
  std::vector<std::unique_ptr<TTorrentSubFile>> Files;
  std::vector<TTorrentPiece> Pieces;
  std::int32_t PieceLength = 0;
  std::vector<std::string> AnnounceList;
};

} // namespace mirel
