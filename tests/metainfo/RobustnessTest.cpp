// Bad input of every kind: the loader answers with false or true and a list
// of messages, never a crash, a hang or memory far beyond the input's size.
// GCC cannot see that the replaced operator delete below pairs with the
// replaced operator new, and warns wherever either is inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include "metainfo/TorrentFile.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>

using namespace mirel;

// The largest single allocation made by this test binary since the last reset.
static std::atomic<std::size_t> LargestAllocation{0};

void *operator new(std::size_t size) {
  std::size_t seen = LargestAllocation.load();
  while (size > seen && !LargestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void *p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
  std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
  std::free(p);
}

namespace {

bool Load(const std::string &bytes, TTorrentFile &t) {
  TMemoryStream s(bytes);
  return t.LoadFromStream(s);
}

std::vector<std::string> Corpus() {
  std::vector<std::string> files;
  for (const auto &e :
       std::filesystem::directory_iterator(std::string(MIREL_TESTDATA_DIR) + "/torrents"))
    if (e.path().extension() == ".torrent")
      files.push_back(test::readFile(e.path()));
  return files;
}

} // namespace

TEST(Robustness, EveryTruncationOfCorpusFiles) {
  int loaded = 0;
  for (const std::string &bytes : Corpus()) {
    // Every cut for small files, a spread of cuts for the big ones.
    const std::size_t step = std::max<std::size_t>(1, bytes.size() / 300);
    for (std::size_t cut = 0; cut < bytes.size(); cut += step) {
      TTorrentFile t;
      const bool ok = Load(bytes.substr(0, cut), t);
      ASSERT_TRUE(ok || !t.Errors.empty()) << cut;
      loaded += ok;
    }
  }
  EXPECT_GT(loaded, 0); // cut-off dictionaries keep what was read
}

TEST(Robustness, RandomBytesAndMutations) {
  std::mt19937 rng(12345);
  const auto corpus = Corpus();
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    if (round % 2 == 0) {
      bytes.resize(rng() % 512);
      for (char &c : bytes)
        c = static_cast<char>(rng());
      if (!bytes.empty())
        bytes[0] = "dli0"[rng() % 4];
    } else {
      bytes = corpus[rng() % corpus.size()];
      for (int flips = 1 + rng() % 8; flips > 0 && !bytes.empty(); --flips)
        bytes[rng() % bytes.size()] = "0123456789:deil-x\xff"[rng() % 18];
    }
    TTorrentFile t;
    const bool ok = Load(bytes, t);
    ASSERT_TRUE(ok || !t.Errors.empty());
  }
}

TEST(Robustness, HostileShapesStayWithinMemory) {
  // Declared lengths of 2^31..2^63 bytes and deep nesting: no allocation may
  // be far above the input's size.
  const std::array<std::string, 6> inputs{
      std::string(1000000, 'l'),
      std::string(1000000, 'd'),
      "d8:announce9223372036854775807:x",
      "d4:infod6:pieces9223372036854775808:abce",
      "d4:infod5:filesld4:pathl2147483648:ae",
      "d4:infod5:filesl" + std::string(200000, 'l') + "e",
  };
  for (const auto &bytes : inputs) {
    TTorrentFile t;
    LargestAllocation = 0;
    const bool ok = Load(bytes, t);
    EXPECT_TRUE(ok || !t.Errors.empty());
    EXPECT_LE(LargestAllocation.load(), 2 * bytes.size() + 256 * 1024) << bytes.substr(0, 40);
  }
}
