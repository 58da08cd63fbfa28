#include "metainfo/TorrentFile.h"

#include "metainfo/BDecode.h"
#include "metainfo/MessageDigests.h"

#include <algorithm>
#include <type_traits>
#include <typeinfo>

namespace mirel {

namespace {

const char *const ParseError = "Error parsing file; does not appear to be valid bencoded metainfo";
const char *const CatchAllError =
    "Something bad happened while trying to load the file, probably corrupt metainfo";

// A node of the class a step expects, or an exception that ends the load.
// The node classes are final, so comparing the exact type is enough (and
// much cheaper than dynamic_cast on large file lists).
template <class T> T &As(TObject *node) {
  static_assert(std::is_final_v<T>);
  if (!node || typeid(*node) != typeid(T))
    throw Exception("unexpected value class in metainfo");
  return static_cast<T &>(*node);
}

template <class T> T &Item(const TObjectHash &dict, std::string_view key) {
  return As<T>(dict.Get(key));
}

const std::string &Text(const TObjectHash &dict, std::string_view key) {
  return Item<TIntString>(dict, key).StringValue;
}

std::int64_t Number(const TObjectHash &dict, std::string_view key) {
  return Item<TIntString>(dict, key).IntegerValue;
}

std::int32_t Low32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// Lengths come from outside; a total that does not fit is corrupt metainfo.
std::int64_t AddLength(std::int64_t total, std::int64_t length) {
  std::int64_t sum;
  if (__builtin_add_overflow(total, length, &sum))
    throw Exception("file lengths overflow");
  return sum;
}

// Feeds length bytes from start to the digest, in slices: a crafted length
// never allocates more than a slice.
void HashRange(TStream &stream, std::int64_t start, std::int64_t length, TSHA1 &sha) {
  stream.Seek(start);
  std::string slice(64 * 1024, '\0');
  while (length > 0) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length, slice.size()));
    const std::size_t got = stream.Read(slice.data(), want);
    sha.Update(slice.data(), got);
    if (got < want)
      break;
    length -= static_cast<std::int64_t>(got);
  }
}

} // namespace

double EpochSecondsToDateTime(std::int32_t seconds) {
  constexpr std::int64_t Day = 86400;
  std::int64_t days = seconds / Day;
  std::int64_t rest = seconds % Day;
  if (rest < 0) {
    rest += Day;
    --days;
  }
  return 25569.0 + static_cast<double>(days) + static_cast<double>(rest) / Day;
}

TTorrentFile::TTorrentFile() : Root(std::make_unique<TObjectHash>()) {}

TTorrentFile::~TTorrentFile() = default;

void TTorrentFile::Clear() {
  Announce.clear();
  Name.clear();
  Comment.clear();
  TotalLength = 0;
  CreationDate = 0;
  FileCount = 0;
  Errors.clear();
  Root = std::make_unique<TObjectHash>();
  InfoHashHex.clear();
  InfoHash.clear();
  IsMultiFile = false;
  Files.clear();
  Pieces.clear();
  PieceLength = 0;
  AnnounceList.clear();
}

bool TTorrentFile::LoadFromStream(TStream &stream) {
  Clear();
  try {
    TSHA1 sha;
    std::unique_ptr<TObject> value = DecodeValue(stream);
    if (!value) {
      Errors.emplace_back(ParseError);
      return false;
    }
    As<TObjectHash>(value.get());
    Root.reset(static_cast<TObjectHash *>(value.release()));
    const TObjectHash &root = *Root;

    if (root.Contains("announce"))
      Announce = Text(root, "announce");
    else
      Errors.emplace_back("Corrupt File: Missing \"announce\" segment");

    if (root.Contains("announce-list")) {
      for (const auto &tier : Item<TObjectList>(root, "announce-list").Items)
        for (const auto &url : As<TObjectList>(tier.get()).Items)
          AnnounceList.push_back(As<TIntString>(url.get()).StringValue);
    }

    if (root.Contains("comment"))
      Comment = Text(root, "comment");

    if (root.Contains("creation date"))
      CreationDate = EpochSecondsToDateTime(Low32(Number(root, "creation date")));

    std::int64_t total = 0;
    if (!root.Contains("info")) {
      Errors.emplace_back("Corrupt File: Missing \"info\" segment");
    } else {
      const auto &info = Item<TObjectHash>(root, "info");

      if (info.Contains("name")) {
        Name = Text(info, "name");
        if (Name.ends_with(".torrent"))
          Name.resize(Name.size() - 8);
      } else {
        Errors.emplace_back("Corrupt File: Missing \"info.name\" segment");
      }

      if (info.Contains("piece length"))
        PieceLength = Low32(Number(info, "piece length"));
      else
        Errors.emplace_back("Corrupt File: Missing \"info.piece length\" segment");

      if (info.Contains("pieces")) {
        const std::string &p = Text(info, "pieces");
        const std::size_t count = p.size() / 20;
        Pieces.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
          std::string hash = p.substr(20 * i, 20);
          std::string hex = BytesToHex(hash, 999);
          Pieces.emplace_back(std::move(hex), std::move(hash));
        }
      } else {
        Errors.emplace_back("Corrupt File: Missing \"info.pieces\" segment");
      }

      if (info.Contains("length")) {
        total = Number(info, "length");
        FileCount = 1;
        Files.push_back(std::make_unique<TTorrentSubFile>(Name, std::string(), total, 0));
      } else if (info.Contains("files")) {
        IsMultiFile = true;
        const auto &files = Item<TObjectList>(info, "files").Items;
        Files.reserve(files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
          const auto &entry = As<TObjectHash>(files[i].get());
          std::int64_t length = 0;
          // One lookup per key here: file lists can be long.
          if (TObject *node = entry.Lookup("length"))
            length = As<TIntString>(node).IntegerValue;
          else
            Errors.push_back("Corrupt File: files[" + std::to_string(i) +
                             "] is missing a \"length\" segment");
          std::string name, path;
          if (TObject *node = entry.Lookup("path")) {
            const auto &parts = As<TObjectList>(node).Items;
            for (std::size_t k = 0; k < parts.size(); ++k) {
              const std::string &part = As<TIntString>(parts[k].get()).StringValue;
              if (k + 1 < parts.size()) {
                path += part;
                path += '\\';
              } else {
                name = part;
              }
            }
          } else {
            Errors.push_back("Corrupt File: files[" + std::to_string(i) +
                             "] is missing a \"path\" segment");
          }
          Files.push_back(
              std::make_unique<TTorrentSubFile>(std::move(name), std::move(path), length, total));
          total = AddLength(total, length);
        }
        FileCount = static_cast<std::int32_t>(Files.size());
      } else {
        Errors.emplace_back("Corrupt File: Missing both \"info.length\" and \"info.files\" "
                            "segments (should have one or the other)");
      }

      if (root.Contains("_info_start") && root.Contains("_info_length")) {
        const std::int64_t here = stream.Position();
        const std::int64_t length = Number(root, "_info_length");
        HashRange(stream, Number(root, "_info_start"), length, sha);
        sha.Finish();
        InfoHashHex = sha.DigestHex();
        InfoHash = sha.Digest();
        stream.Seek(here);
      }
    }
    TotalLength = total;
    return true;
  } catch (...) {
    Errors.emplace_back(CatchAllError);
    return false;
  }
}

} // namespace mirel
