// Our loader against libtorrent-rasterbar on the libtorrent test corpus and
// on metainfo files made here by mktorrent and transmission-create.
#include "metainfo/TorrentFile.h"

#include "sandbox.h"

#include <libtorrent/bdecode.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/torrent_info.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char **environ;

using namespace mirel;

namespace {

struct RawFile {
  std::vector<std::string> path; // components as stored, without the torrent name
  std::int64_t length = 0;
  bool pad = false;
};

// The v1 file list as libtorrent's own bencode decoder reads it; empty for
// v2-only metainfo.
std::vector<RawFile> RawFiles(const lt::torrent_info &ti, std::string &rawName) {
  lt::error_code ec;
  const auto section = ti.info_section();
  const lt::bdecode_node info = lt::bdecode(section, ec);
  std::vector<RawFile> out;
  if (ec)
    return out;
  rawName = std::string(info.dict_find_string_value("name"));
  if (auto length = info.dict_find_int("length")) {
    out.push_back({{}, length.int_value(), false});
    return out;
  }
  const lt::bdecode_node files = info.dict_find_list("files");
  for (int i = 0; files && i < files.list_size(); ++i) {
    const lt::bdecode_node f = files.list_at(i);
    RawFile r;
    r.length = f.dict_find_int_value("length");
    r.pad = f.dict_find_string_value("attr").find('p') != std::string_view::npos;
    const lt::bdecode_node path = f.dict_find_list("path");
    for (int k = 0; path && k < path.list_size(); ++k)
      r.path.emplace_back(path.list_string_value_at(k));
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<std::string> OurComponents(const TTorrentSubFile &f) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : f.Path) {
    if (c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!f.Path.empty() || !f.Name.empty() || !parts.empty())
    parts.push_back(f.Name);
  return parts;
}

std::string Join(const std::vector<std::string> &parts) {
  std::string out;
  for (const auto &p : parts)
    out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string Hex(const lt::sha1_hash &h) {
  std::ostringstream s;
  s << h;
  return s.str();
}

bool ValidUtf8(const std::string &s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || i + n > s.size())
      return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
        return false;
    i += n;
  }
  return true;
}

// How strictly a torrent's file paths are compared with libtorrent's.
enum class PathCheck { Exact, RawOnly };

// Compares one loaded metainfo with libtorrent's reading of the same bytes.
void ExpectAgreement(const std::string &what, const std::string &bytes, PathCheck pathCheck) {
  SCOPED_TRACE(what);
  lt::error_code ec;
  const lt::torrent_info ti(bytes, ec, lt::from_span);
  ASSERT_FALSE(ec) << ec.message();
  TMemoryStream stream(bytes);
  TTorrentFile ours;
  ASSERT_TRUE(ours.LoadFromStream(stream)) << (ours.Errors.empty() ? "" : ours.Errors.back());

  // The info hash is the SHA-1 of the info section's exact bytes.
  EXPECT_EQ(ours.InfoHashHex, Hex(lt::hasher(ti.info_section()).final()));
  if (ti.info_hashes().has_v1()) {
    EXPECT_EQ(ours.InfoHashHex, Hex(ti.info_hashes().v1));
  }

  std::string rawName;
  const std::vector<RawFile> raw = RawFiles(ti, rawName);
  std::string expectedName = rawName;
  if (expectedName.ends_with(".torrent"))
    expectedName.resize(expectedName.size() - 8);
  EXPECT_EQ(ours.Name, expectedName);
  if (ti.name() == rawName) { // libtorrent keeps clean names as they are
    EXPECT_EQ(ours.Name, ti.name());
  }

  if (raw.empty()) { // v2-only: no v1 file list for us to read
    EXPECT_EQ(ours.TotalLength, 0);
    return;
  }
  // The file list is the same bytes libtorrent's decoder sees.
  ASSERT_EQ(ours.Files.size(), raw.size());
  std::int64_t total = 0;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto &f = *ours.Files[i];
    if (ours.IsMultiFile) {
      std::string dir;
      for (std::size_t k = 0; k + 1 < raw[i].path.size(); ++k)
        dir += raw[i].path[k] + "\\";
      EXPECT_EQ(f.Path, dir) << i;
      EXPECT_EQ(f.Name, raw[i].path.empty() ? "" : raw[i].path.back()) << i;
    }
    EXPECT_EQ(f.Length, raw[i].length) << i;
    EXPECT_EQ(f.Start, total) << i;
    total += raw[i].length;
  }
  EXPECT_EQ(ours.TotalLength, total);

  // And libtorrent's file storage agrees wherever it did not rewrite a path.
  const lt::file_storage &fs = ti.files();
  const bool v2Layout = ti.info_hashes().has_v2(); // files in file-tree order, pads renamed
  bool symlinkSeen = false;
  if (!v2Layout) {
    ASSERT_EQ(fs.num_files(), static_cast<int>(ours.Files.size()));
    for (const lt::file_index_t i : fs.file_range()) {
      const auto &f = *ours.Files[static_cast<std::size_t>(static_cast<int>(i))];
      if (fs.file_flags(i) & lt::file_storage::flag_symlink) {
        symlinkSeen = true; // libtorrent counts symlinks as empty
        continue;
      }
      EXPECT_EQ(fs.file_size(i), f.Length);
      if (!symlinkSeen) {
        EXPECT_EQ(fs.file_offset(i), f.Start);
      }
      const std::string ourPath =
          ours.IsMultiFile ? ti.name() + "/" + Join(OurComponents(f)) : ours.Name;
      if (pathCheck == PathCheck::Exact && ValidUtf8(ourPath)) {
        EXPECT_EQ(fs.file_path(i), ourPath);
      }
    }
    if (!symlinkSeen) {
      EXPECT_EQ(ti.total_size(), ours.TotalLength);
    }
  } else {
    // The same files with the same lengths, pad files aside.
    std::multiset<std::pair<std::string, std::int64_t>> theirs, mine;
    for (const lt::file_index_t i : fs.file_range())
      if (!fs.pad_file_at(i))
        theirs.emplace(fs.file_path(i), fs.file_size(i));
    for (std::size_t i = 0; i < raw.size(); ++i)
      if (!raw[i].pad)
        mine.emplace(ours.IsMultiFile ? ti.name() + "/" + Join(OurComponents(*ours.Files[i]))
                                      : ours.Name,
                     raw[i].length);
    EXPECT_EQ(theirs, mine);
    EXPECT_EQ(ti.total_size(), ours.TotalLength);
  }
}

// Corpus files whose paths libtorrent rewrites (sanitises "..", separators,
// empty or over-long elements, duplicates); their raw bytes are still compared.
const std::set<std::string> Rewritten{
    "absolute_filename.torrent",  "backslash_path.torrent",
    "duplicate_files.torrent",    "duplicate_files2.torrent",
    "empty_path.torrent",         "empty_path_multi.torrent",
    "hidden_parent_path.torrent", "invalid_directory_name.torrent",
    "invalid_filename.torrent",   "invalid_filename2.torrent",
    "invalid_name2.torrent",      "long_name.torrent",
    "pad_file_no_path.torrent",   "parent_path.torrent",
    "slash_path.torrent",         "slash_path2.torrent",
    "slash_path3.torrent",        "symlink_filtered_path.torrent",
};

int Spawn(const std::vector<std::string> &argv) {
  std::vector<char *> args;
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Bytes(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return s;
}

} // namespace

TEST(LibtorrentAgreement, Corpus) {
  int agreed = 0, refused = 0;
  for (const auto &e :
       std::filesystem::directory_iterator(std::string(MIREL_TESTDATA_DIR) + "/torrents")) {
    if (e.path().extension() != ".torrent")
      continue;
    const std::string name = e.path().filename();
    const std::string bytes = test::readFile(e.path());
    lt::error_code ec;
    const lt::torrent_info ti(bytes, ec, lt::from_span);
    if (ec) {
      // Refused by libtorrent: we load it or fail, with a message either way.
      TMemoryStream s(bytes);
      TTorrentFile t;
      const bool ok = t.LoadFromStream(s);
      EXPECT_TRUE(ok || !t.Errors.empty()) << name;
      ++refused;
      continue;
    }
    ExpectAgreement(name, bytes, Rewritten.count(name) ? PathCheck::RawOnly : PathCheck::Exact);
    ++agreed;
  }
  EXPECT_GT(agreed, 40);
  EXPECT_GT(refused, 20);
}

TEST(LibtorrentAgreement, MadeByMktorrentAndTransmission) {
  test::Sandbox box;
  const std::string cp949 = "\xbc\xb3\xc4\xa1.exe"; // 설치.exe in CP949
  box.write("single/setup.exe", Bytes(100000, 1));
  box.write("korean/설치 파일.exe", Bytes(70001, 2));
  box.write("cp949/" + cp949, Bytes(40000, 3));
  box.write("multi/a.bin", Bytes(70000, 4));
  box.write("multi/empty.txt", "");
  box.write("multi/sub/deeper/c.dat", Bytes(33333, 5));
  box.write("multi/설치/파일.txt", Bytes(1000, 6));
  box.write("multi/" + cp949, Bytes(500, 7));
  box.write("multi/z-empty", "");

  const std::vector<std::string> targets{box.file("single/setup.exe"),
                                         box.file("korean/설치 파일.exe"),
                                         box.file("cp949/" + cp949), box.file("multi")};
  int made = 0;
  for (const auto &target : targets) {
    for (int log2 : {15, 16, 18}) {
      const std::string out = box.file("mk-" + std::to_string(made++) + ".torrent");
      ASSERT_EQ(Spawn({"mktorrent", "-a", "http://127.0.0.1:1/announce", "-l", std::to_string(log2),
                       "-t", "1", "-o", out, target}),
                0);
      ExpectAgreement("mktorrent -l " + std::to_string(log2) + " " + target, test::readFile(out),
                      PathCheck::Exact);
    }
    for (int kib : {16, 32, 64}) {
      const std::string out = box.file("tr-" + std::to_string(made++) + ".torrent");
      ASSERT_EQ(Spawn({"transmission-create", "-t", "http://127.0.0.1:1/announce", "-s",
                       std::to_string(kib), "-o", out, target}),
                0);
      ExpectAgreement("transmission-create -s " + std::to_string(kib) + " " + target,
                      test::readFile(out), PathCheck::Exact);
    }
  }
}
