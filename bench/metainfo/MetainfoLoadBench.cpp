// Loading a large metainfo file (20,000 files, 40,000 pieces): TTorrentFile
// against libtorrent's torrent_info on the same bytes.
#include "metainfo/TorrentFile.h"

#include <benchmark/benchmark.h>
#include <libtorrent/torrent_info.hpp>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// Built by appending: GCC 12 warns falsely on "literal" + std::string&&.
std::string S(const std::string &s) {
  std::string out = std::to_string(s.size());
  out += ':';
  return out += s;
}
std::string I(long long v) {
  std::string out = "i";
  out += std::to_string(v);
  return out += 'e';
}

// Keys sorted, as real metainfo files have them.
const std::string &LargeTorrent() {
  static const std::string bytes = [] {
    constexpr int Files = 20000, Pieces = 40000;
    constexpr long long PieceLength = 262144;
    constexpr long long Total = Pieces * PieceLength - 1000;
    std::string files = "l";
    long long left = Total;
    for (int i = 0; i < Files; ++i) {
      const long long length = i + 1 < Files ? Total / Files + (i % 7) * 3 - 9 : left;
      left -= length;
      char dir[32], name[32];
      std::snprintf(dir, sizeof dir, "folder-%03d", i / 100);
      std::snprintf(name, sizeof name, "file-%05d.bin", i);
      files += "d6:length" + I(length) + "4:pathl" + S(dir) + S(name) + "ee";
    }
    files += "e";
    std::string pieces(Pieces * 20, '\0');
    std::uint32_t x = 88172645u;
    for (char &c : pieces) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x);
    }
    const std::string info = "d5:files" + files + "4:name" + S("Mirel(s) bundle") +
                             "12:piece length" + I(PieceLength) + "6:pieces" + S(pieces) + "e";
    return "d8:announce" + S("http://127.0.0.1:6969/announce") + "13:creation date" +
           I(1700000000) + "4:info" + info + "e";
  }();
  return bytes;
}

void BM_LoadOurs(benchmark::State &state) {
  const std::string &bytes = LargeTorrent();
  for (auto _ : state) {
    mirel::TMemoryStream stream(bytes);
    mirel::TTorrentFile torrent;
    if (!torrent.LoadFromStream(stream) || torrent.Files.size() != 20000 ||
        torrent.Pieces.size() != 40000)
      state.SkipWithError("load failed");
    benchmark::DoNotOptimize(torrent.InfoHash.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LoadOurs)->Unit(benchmark::kMillisecond);

void BM_LoadLibtorrent(benchmark::State &state) {
  const std::string &bytes = LargeTorrent();
  for (auto _ : state) {
    lt::error_code ec;
    lt::torrent_info ti(bytes, ec, lt::from_span);
    if (ec || ti.num_files() != 20000 || ti.num_pieces() != 40000)
      state.SkipWithError(("libtorrent refused: " + ec.message()).c_str());
    benchmark::DoNotOptimize(ti.info_hashes().v1.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LoadLibtorrent)->Unit(benchmark::kMillisecond);

// Ours through the buffered file stream (no reference: for the file path's cost).
void BM_LoadOursFromFile(benchmark::State &state) {
  char path[] = "/tmp/mirel-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  const std::string &bytes = LargeTorrent();
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    state.SkipWithError("cannot write the temporary file");
    return;
  }
  ::close(fd);
  for (auto _ : state) {
    mirel::TFileStream stream(path);
    mirel::TTorrentFile torrent;
    benchmark::DoNotOptimize(torrent.LoadFromStream(stream));
  }
  ::unlink(path);
}
BENCHMARK(BM_LoadOursFromFile)->Unit(benchmark::kMillisecond);

} // namespace
