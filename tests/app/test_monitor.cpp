// The progress monitor's reading of the status title, the fallback timing,
// and the checks on the setup file that the server's metainfo names.
#include "app/Monitor.h"
#include "app/SetupFile.h"
#include "metainfo/Streams.h"
#include "metainfo/TorrentFile.h"

#include "sandbox.h"
#include "windowtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>

using mirel::TDownload;

namespace {

// Records what the monitor shows; the bar holds bytes like the window's.
class FakeDisplay : public mirel::IMonitorDisplay {
public:
  explicit FakeDisplay(int64_t total) : Total(total) {}
  void SetStatusText(const std::string &t) override { Texts["status"] = t; }
  void SetRemainText(const std::string &t) override { Texts["remain"] = t; }
  void SetDownText(const std::string &t) override { Texts["down"] = t; }
  void SetSpeedText(const std::string &t) override { Texts["speed"] = t; }
  void SetPercentText(const std::string &t) override { Texts["percent"] = t; }
  int64_t SetProgressBytes(int64_t bytes) override {
    Position = std::clamp<int64_t>(bytes, 0, Total);
    return Position;
  }
  int64_t ProgressTotal() const override { return Total; }
  std::map<std::string, std::string> Texts;
  int64_t Position = 0;
  int64_t Total;
};

constexpr int64_t TenMiB = 10485760;

} // namespace

TEST(Monitor, WorkedExample) {
  FakeDisplay d(TenMiB);
  TDownload slot;
  slot.TotalLength = TenMiB;
  int state = 0;
  const bool complete = mirel::ApplyStatusTitle(
      "12% Up: 0.00 MB @ 0.00 kB/s Down: 1.50 MB @ 512.00 kB/s | Leeching: 12.0%", slot, TenMiB,
      state, d);
  EXPECT_FALSE(complete);
  EXPECT_EQ(slot.UploadedMB, 0.0);
  EXPECT_EQ(slot.DownloadedMB, 1.5);
  EXPECT_EQ(slot.DownloadRate, 512.0);
  EXPECT_EQ(d.Texts["down"], "1.50 MB");
  EXPECT_EQ(d.Texts["speed"], "512.00 KB/S");
  EXPECT_EQ(d.Position, 1572864); // 1.5 x 1048576
  EXPECT_EQ(d.Texts["percent"], "15.0%");
  EXPECT_EQ(d.Texts["status"], "총 1 MB / 10 MB 를 받았습니다.");
  EXPECT_EQ(d.Texts["remain"], "17 초");
  EXPECT_EQ(state, 1);
  EXPECT_FALSE(slot.SeedingSeen);
}

TEST(Monitor, TitlesThatChangeNothingOrLittle) {
  struct Case {
    const char *title;
    const char *remain; // nullptr: untouched
    int state;
  };
  const std::array<Case, 4> cases{{
      {"ZUL! Initializing mirelS.setup.exe.torrent", nullptr, 0},
      {"x Up: ? @ ? Down: ? @ ? | Leeching: 0.0%", "-", 0},
      {"x Up:  @  Down:  @  | ", "-", 0},
      // Rate positive but nothing downloaded yet: remaining is the whole file.
      {"x Up: 0.00 MB @ 0.00 kB/s Down: 0.00 MB @ 10.00 kB/s | Leeching: 0.0%", "17 분", 0},
  }};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    FakeDisplay d(TenMiB);
    TDownload slot;
    slot.UploadedMB = 7;
    slot.UploadRate = 8;
    slot.DownloadedMB = 9;
    slot.TotalLength = TenMiB;
    int state = 0;
    EXPECT_FALSE(mirel::ApplyStatusTitle(c.title, slot, TenMiB, state, d));
    if (std::string(c.title).find("Down: 0.00") == std::string::npos) {
      EXPECT_EQ(slot.UploadedMB, 7);
      EXPECT_EQ(slot.UploadRate, 8);
      EXPECT_EQ(slot.DownloadedMB, 9);
      EXPECT_EQ(d.Texts.count("down"), 0u);
      EXPECT_EQ(d.Texts.count("speed"), 0u);
    }
    if (c.remain == nullptr) {
      EXPECT_TRUE(d.Texts.empty());
    } else {
      EXPECT_EQ(d.Texts["remain"], c.remain);
    }
    EXPECT_EQ(state, c.state);
  }
}

TEST(Monitor, SeedingThenCompleteOnTheNextTick) {
  FakeDisplay d(TenMiB);
  TDownload slot;
  slot.TotalLength = TenMiB;
  int state = 1;
  const std::string seeding = "x Up: 0.00 MB @ 0.00 kB/s Down: 10.00 MB @ 0.00 kB/s | Seeding";
  EXPECT_FALSE(mirel::ApplyStatusTitle(seeding, slot, TenMiB, state, d));
  EXPECT_EQ(d.Texts["remain"], "-");
  EXPECT_TRUE(slot.SeedingSeen);
  EXPECT_TRUE(mirel::ApplyStatusTitle(seeding, slot, TenMiB, state, d));
  // Still receiving at a positive rate: not complete yet.
  TDownload busy;
  busy.TotalLength = TenMiB;
  busy.SeedingSeen = true;
  EXPECT_FALSE(mirel::ApplyStatusTitle(
      "x Up: 0.00 MB @ 0.00 kB/s Down: 9.00 MB @ 100.00 kB/s | Seeding", busy, TenMiB, state, d));

  mirel::ShowCompletionTexts(d);
  EXPECT_EQ(d.Texts["status"], "전송이 완료되었습니다. 설치 시작 버튼을 누르세요.");
  EXPECT_EQ(d.Texts["remain"], "-");
  EXPECT_EQ(d.Texts["down"], "-");
  EXPECT_EQ(d.Texts["speed"], "-");
}

TEST(Monitor, PercentageEstimateWinsWhenSmaller) {
  FakeDisplay d(TenMiB);
  TDownload slot;
  slot.TotalLength = TenMiB;
  int state = 0;
  // 1.00 MB received but 50% reported: remaining 5 MB, not 9.
  mirel::ApplyStatusTitle(
      "x Up: 0.00 MB @ 0.00 kB/s Down: 1.00 MB @ 1024.00 kB/s | Leeching: 50.0%", slot, TenMiB,
      state, d);
  EXPECT_EQ(d.Position, TenMiB / 2);
  EXPECT_EQ(d.Texts["percent"], "50.0%");
  EXPECT_EQ(d.Texts["remain"], "05 초");
}

TEST(Monitor, FallbackTiming) {
  struct Case {
    int state;
    uint32_t start;
    uint32_t now;
    int32_t wait;
    bool due;
    int stateAfter;
  };
  const std::array<Case, 8> cases{{
      {0, 1000, 11000, 10, false, 0}, // exactly 10000 ms: not yet
      {0, 1000, 11001, 10, true, 2},
      {0, 0xFFFFF000u, 10000 - 0x1000 + 1, 10, true, 2}, // across the tick wrap
      {0, 0xFFFFF000u, 100, 10, false, 0},
      {1, 0, 4000000000u, 10, false, 1}, // progress seen: never
      {2, 0, 0, 10, true, 2},
      {0, 0, 4294962296u, -5, false, 0}, // -5 s reads as 4294962296 ms
      {0, 0, 4294962297u, -5, true, 2},
  }};
  for (const Case &c : cases) {
    int state = c.state;
    EXPECT_EQ(mirel::FallbackDue(state, c.now, c.start, c.wait), c.due) << c.now;
    EXPECT_EQ(state, c.stateAfter) << c.now;
  }
}

TEST(SetupFile, NamesThatAreOnePlainFileName) {
  const std::array<std::pair<std::string, bool>, 11> cases{{
      {"setup.exe", true},
      {"미렐 설치.exe", true},
      {"..setup", true},
      {"", false},
      {".", false},
      {"..", false},
      {"../x", false},
      {"a/b", false},
      {"a\\b", false},
      {std::string("a\0b", 3), false},
      {"a\x1b", false},
  }};
  for (const auto &[name, ok] : cases)
    EXPECT_EQ(mirel::IsSafeSetupFileName(name), ok) << name;
}

TEST(SetupFile, ContentMustMatchLengthAndEveryPiece) {
  mirel::test::Sandbox box;
  std::string content(40000, '\0');
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 7);
  mirel::TTorrentFile meta;
  mirel::TMemoryStream stream(
      mirel::test::MakeMetainfo("setup.bin", content, "http://127.0.0.1:1/announce"));
  ASSERT_TRUE(meta.LoadFromStream(stream));

  std::string flipped = content;
  flipped[20000] ^= 1;
  const std::array<std::pair<std::string, bool>, 5> cases{{
      {content, true},
      {content.substr(0, 39999), false},
      {content + "x", false},
      {flipped, false},
      {"<html>login</html>", false},
  }};
  for (const auto &[bytes, ok] : cases)
    EXPECT_EQ(mirel::SetupFileMatchesMetainfo(box.write("f", bytes), meta), ok) << bytes.size();
  EXPECT_FALSE(mirel::SetupFileMatchesMetainfo(box.file("missing"), meta));
}

// The check that follows a file while a fetch writes it: the verdict after
// Finish must be the same as the check of the finished file, however the
// bytes arrived and whatever happened to the file meanwhile.
class PieceCheckTest : public ::testing::Test {
protected:
  void SetUp() override {
    Content.resize(100000);
    for (size_t i = 0; i < Content.size(); ++i)
      Content[i] = static_cast<char>(i * 13 + 5);
    mirel::TMemoryStream stream(
        mirel::test::MakeMetainfo("setup.bin", Content, "http://127.0.0.1:1/announce"));
    ASSERT_TRUE(Meta.LoadFromStream(stream));
    ASSERT_EQ(Meta.Pieces.size(), 7u);
  }

  // Appends the bytes in steps, telling the check after each one.
  void Arrive(mirel::TPieceCheck &check, const std::string &path, const std::string &bytes,
              size_t step) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (size_t off = 0; off < bytes.size(); off += step) {
      const size_t n = std::min(step, bytes.size() - off);
      ASSERT_EQ(std::fwrite(bytes.data() + off, 1, n, f), n);
      ASSERT_EQ(std::fflush(f), 0);
      check.BytesWritten(off + n);
    }
    std::fclose(f);
  }

  mirel::test::Sandbox Box;
  std::string Content;
  mirel::TTorrentFile Meta;
};

TEST_F(PieceCheckTest, VerdictAfterArrivalInSteps) {
  std::string flippedFirst = Content;
  flippedFirst[10] ^= 1;
  std::string flippedLast = Content;
  flippedLast.back() ^= 1;
  struct Case {
    std::string bytes;
    size_t step;
    bool ok;
  };
  const std::array<Case, 7> cases{{
      {Content, 1000, true},
      {Content, 16384, true}, // one piece a step
      {Content, 100000, true},
      {flippedFirst, 5000, false},
      {flippedLast, 5000, false},
      {Content.substr(0, 99999), 5000, false},
      {Content + "tail", 5000, false},
  }};
  for (const Case &c : cases) {
    const std::string path = Box.file("setup.bin");
    std::remove(path.c_str());
    mirel::TPieceCheck check(path, Meta);
    Arrive(check, path, c.bytes, c.step);
    EXPECT_EQ(check.Finish(), c.ok) << c.bytes.size() << " in steps of " << c.step;
  }
}

TEST_F(PieceCheckTest, FileReplacedAfterArrivalFails) {
  const std::string path = Box.file("setup.bin");
  mirel::TPieceCheck check(path, Meta);
  Arrive(check, path, Content, 16384);
  // Another file of the same length takes the name: whether or not the
  // pieces were read before, the file now there is not the one checked.
  std::string other = Content;
  other[50000] ^= 1;
  const std::string temp = Box.write("other.bin", other);
  ASSERT_EQ(std::rename(temp.c_str(), path.c_str()), 0);
  EXPECT_FALSE(check.Finish());
}

TEST_F(PieceCheckTest, MoreAnnouncedThanWrittenFails) {
  const std::string path = Box.write("setup.bin", Content.substr(0, 50000));
  mirel::TPieceCheck check(path, Meta);
  check.BytesWritten(Content.size());
  EXPECT_FALSE(check.Finish());
}

TEST_F(PieceCheckTest, DroppedWithoutFinishEndsItsWorker) {
  // A fetch that fails or is aborted leaves the check unfinished; going out
  // of scope must neither hang nor touch the file afterwards.
  const std::string path = Box.write("setup.bin", Content.substr(0, 40000));
  {
    mirel::TPieceCheck check(path, Meta);
    check.BytesWritten(40000);
  }
  { mirel::TPieceCheck never(Box.file("missing.bin"), Meta); }
  EXPECT_EQ(mirel::test::readFile(path).size(), 40000u);
}

TEST_F(PieceCheckTest, LayoutThatCannotProveTheContentFails) {
  const std::string path = Box.write("setup.bin", Content);
  auto layout = [&](int64_t total, int32_t pieceLength, size_t pieces) {
    auto meta = std::make_unique<mirel::TTorrentFile>();
    meta->TotalLength = total;
    meta->PieceLength = pieceLength;
    meta->Pieces.assign(Meta.Pieces.begin(), Meta.Pieces.begin() + static_cast<long>(pieces));
    return meta;
  };
  EXPECT_TRUE(mirel::SetupFileMatchesMetainfo(path, *layout(100000, 16384, 7)));
  EXPECT_FALSE(mirel::SetupFileMatchesMetainfo(path, *layout(100000, 16384, 6)));
  EXPECT_FALSE(mirel::SetupFileMatchesMetainfo(path, *layout(100000, 0, 7)));
  EXPECT_FALSE(mirel::SetupFileMatchesMetainfo(path, *layout(0, 16384, 0)));
  EXPECT_TRUE(mirel::SetupFileMatchesMetainfo(Box.write("empty.bin", ""), *layout(0, 16384, 0)));
}
