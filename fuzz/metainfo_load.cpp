// Loads arbitrary bytes as metainfo: must never crash, hang or read out of bounds.
#include "metainfo/BDecode.h"
#include "metainfo/TorrentFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  mirel::TMemoryStream stream(bytes);
  mirel::TTorrentFile torrent;
  const bool ok = torrent.LoadFromStream(stream);
  // A successful load always has a dictionary root and consistent file offsets.
  if (ok && !torrent.Root)
    __builtin_trap();
  std::int64_t start = 0;
  for (const auto &f : torrent.Files) {
    if (f->Start != start && torrent.IsMultiFile)
      __builtin_trap();
    if (__builtin_add_overflow(start, f->Length, &start))
      break;
  }
  for (const auto &p : torrent.Pieces) {
    if (p.Hash.size() != 20 || p.HashHex != mirel::BytesToHex(p.Hash, 999))
      __builtin_trap();
  }
  return 0;
}
