#include "engine/TransferSlots.h"

#include "StandinScript.h"
#include "metainfo/TorrentFile.h"
#include "sandbox.h"
#include "waitfor.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace mirel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::processGone;
using test::StandinScript;

// The main window as the slots see it.
class FakeHost : public TEngineHost {
public:
  std::string EngineFolder() const override { return folder; }
  std::string EngineExeName() const override { return "ZULdnheadless.exe"; }
  bool ShowEngineConsole() const override { return false; }
  int ProgressState() const override { return progressState; }
  void StopMonitor() override { ++monitorStops; }
  void ErrorBox(const std::string &caption, const std::string &text) override {
    boxes.push_back(caption + ": " + text);
  }
  void EndApplication() override { ended = true; }

  std::string folder;
  int progressState = 0;
  int monitorStops = 0;
  std::vector<std::string> boxes;
  bool ended = false;
};

class Slots : public ::testing::Test {
protected:
  void SetUp() override {
    host.folder = sandbox.path().string() + "/engine folder/";
    fs::create_directories(host.folder);
    fs::copy_file(MIREL_STANDIN_PATH, host.folder + "ZULdnheadless.exe");
    metainfoPath = copyMetainfo("mirelS.setup.exe.torrent");
    targetPath = sandbox.file("work folder/Mirel Setup.exe");
    metainfo.TotalLength = 1000;
    slots.Reset();
    slots.EngineHosting.QuitBound = 500ms;
    slots.EngineHosting.TermGrace = 500ms;
  }

  std::string copyMetainfo(const std::string &name) {
    const std::string path = host.folder + name;
    fs::copy_file(std::string(MIREL_TESTDATA_DIR) + "/torrents/base.torrent", path);
    return path;
  }
  std::string script(const std::string &more = {}) const {
    return "pidfile=" + sandbox.file("pids") + ";argv=" + sandbox.file("argv") + ";" + more;
  }
  std::vector<int> startedPids() const {
    std::vector<int> pids;
    std::ifstream in(sandbox.file("pids"));
    for (int pid; in >> pid;)
      pids.push_back(pid);
    return pids;
  }
  int activeSlots() const {
    int n = 0;
    for (const auto &s : slots.Slots)
      n += s.Active;
    return n;
  }

  test::Sandbox sandbox;
  FakeHost host;
  TTransferSlots slots{host};
  TTorrentFile metainfo;
  std::string metainfoPath;
  std::string targetPath;
};

TEST_F(Slots, TransferLandsInSlotZeroWithTheExactCommandLine) {
  StandinScript s(script());
  ASSERT_TRUE(slots.StartTransfer("\"" + metainfoPath + "\"", targetPath, &metainfo));
  const TDownload &slot = slots.Slots[0];
  ASSERT_TRUE(slot.Active);
  ASSERT_TRUE(slot.Engine);
  EXPECT_EQ(slot.MetainfoFile, metainfoPath);
  EXPECT_EQ(slot.SaveAs, targetPath);
  EXPECT_FALSE(slot.Exited || slot.Stopped || slot.SeedingSeen);
  EXPECT_EQ(slot.TotalLength, 425); // from the metainfo, not from the caller
  EXPECT_EQ(activeSlots(), 1);
  EXPECT_TRUE(host.boxes.empty());

  EXPECT_EQ(slot.Engine->CommandLine(),
            "\"" + host.folder + "ZULdnheadless.exe\" --responsefile \"" + metainfoPath +
                "\" --saveas \"" + targetPath +
                "\" --max_uploads 10 --min_uploads 3 --display_interval 1");
  const std::vector<std::string> argv{host.folder + "ZULdnheadless.exe",
                                      "--responsefile",
                                      metainfoPath,
                                      "--saveas",
                                      targetPath,
                                      "--max_uploads",
                                      "10",
                                      "--min_uploads",
                                      "3",
                                      "--display_interval",
                                      "1"};
  std::vector<std::string> seen;
  ASSERT_TRUE(test::waitFor(
      [&] {
        seen.clear();
        std::ifstream in(sandbox.file("argv"));
        for (std::string line; std::getline(in, line);)
          seen.push_back(line);
        return seen.size() == argv.size();
      },
      5s));
  EXPECT_EQ(seen, argv);
}

TEST_F(Slots, SecondTransferOfTheSameFileStoresNothingAndStopsItsEngine) {
  StandinScript s(script());
  ASSERT_TRUE(slots.StartTransfer(metainfoPath, targetPath, &metainfo));
  ASSERT_TRUE(slots.StartTransfer(metainfoPath, targetPath, &metainfo));
  EXPECT_EQ(activeSlots(), 1);
  std::vector<int> pids;
  ASSERT_TRUE(test::waitFor([&] { return (pids = startedPids()).size() == 2u; }, 5s));
  const int held = slots.Slots[0].Engine->ProcessId();
  for (int pid : pids)
    EXPECT_EQ(processGone(pid), pid != held) << pid;
}

TEST_F(Slots, WithAllTwentySlotsActiveANewEngineIsStopped) {
  StandinScript s(script());
  for (int i = 0; i < SlotCount; ++i)
    ASSERT_TRUE(
        slots.StartTransfer(copyMetainfo(std::to_string(i) + ".torrent"), targetPath, &metainfo));
  ASSERT_EQ(activeSlots(), SlotCount);
  ASSERT_TRUE(slots.StartTransfer(copyMetainfo("extra.torrent"), targetPath, &metainfo));
  EXPECT_EQ(activeSlots(), SlotCount);
  std::set<int> held;
  for (int i = 0; i < SlotCount; ++i) {
    EXPECT_EQ(slots.Slots[i].MetainfoFile, host.folder + std::to_string(i) + ".torrent");
    held.insert(slots.Slots[i].Engine->ProcessId());
  }
  std::vector<int> pids;
  ASSERT_TRUE(test::waitFor([&] { return (pids = startedPids()).size() == 21u; }, 5s));
  for (int pid : pids) {
    // The twenty filed engines run; the one without a slot was stopped.
    EXPECT_EQ(processGone(pid), held.count(pid) == 0) << pid;
  }
  EXPECT_EQ(held.size(), 20u);
  slots.ReleaseSlot(-1);
  for (int pid : pids)
    EXPECT_TRUE(processGone(pid));
  for (const auto &slot : slots.Slots)
    EXPECT_TRUE(!slot.Active && slot.Exited && slot.Stopped && !slot.Engine);
}

TEST_F(Slots, NotEnoughDiskSpaceEndsTheApplicationBeforeAnyLaunch) {
  StandinScript s(script());
  metainfo.TotalLength = INT64_MAX;
  EXPECT_FALSE(slots.StartTransfer(metainfoPath, targetPath, &metainfo));
  EXPECT_TRUE(host.ended);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "경고: 디스크 공간이 부족합니다. 프로그램을 종료합니다.");
  EXPECT_EQ(activeSlots(), 0);
  EXPECT_TRUE(startedPids().empty());

  // An existing target file passes without a look at the disk.
  sandbox.write("work folder/Mirel Setup.exe", "old");
  host.ended = false;
  EXPECT_TRUE(slots.StartTransfer(metainfoPath, targetPath, &metainfo));
  EXPECT_FALSE(host.ended);
  EXPECT_EQ(activeSlots(), 1);
}

TEST_F(Slots, NoMetainfoLoadedDoesNothing) {
  StandinScript s(script());
  EXPECT_TRUE(slots.StartTransfer(metainfoPath, targetPath, nullptr));
  EXPECT_EQ(activeSlots(), 0);
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Slots, RefusedOrFailedLaunchesLeaveNoEngine) {
  const std::string quoted = copyMetainfo("quote\".torrent");
  sandbox.write("bad.torrent", "this is not bencode");
  const std::string failedBox = "오류: ZULdnheadless.exe 를 실행하는데 오류가 발생했습니다.";
  struct Case {
    const char *what;
    std::string metainfo;
    std::string target;
    std::string folder; // empty: the real one
    const char *box;    // null: no message
  };
  const std::array<Case, 5> cases{{
      {"quote in the metainfo path", quoted, targetPath, "", failedBox.c_str()},
      {"quote in the target path", metainfoPath, sandbox.file("a\"b.exe"), "", failedBox.c_str()},
      {"quote in the engine folder", metainfoPath, targetPath, sandbox.file("x\"y") + "/",
       failedBox.c_str()},
      {"engine missing", metainfoPath, targetPath, sandbox.file("nowhere") + "/",
       failedBox.c_str()},
      {"invalid metainfo", sandbox.file("bad.torrent"), targetPath, "", nullptr},
  }};
  const std::string realFolder = host.folder;
  for (const auto &c : cases) {
    StandinScript s(script());
    host.boxes.clear();
    host.folder = c.folder.empty() ? realFolder : c.folder;
    TDownload R;
    slots.LaunchEngine(c.metainfo, c.target, false, 0, 0, R);
    EXPECT_FALSE(R.Active) << c.what;
    EXPECT_FALSE(R.Engine) << c.what;
    if (c.box) {
      ASSERT_EQ(host.boxes.size(), 1u) << c.what;
      EXPECT_EQ(host.boxes[0], c.box) << c.what;
    } else {
      EXPECT_TRUE(host.boxes.empty()) << c.what;
    }
    // The run goes on: StartTransfer still answers true.
    EXPECT_TRUE(slots.StartTransfer(c.metainfo, c.target, &metainfo)) << c.what;
    EXPECT_EQ(activeSlots(), 0) << c.what;
  }
  EXPECT_TRUE(startedPids().empty());
}

TEST_F(Slots, ConsoleKeysShowAndHideTheEnginesConsole) {
  StandinScript s(script());
  ASSERT_TRUE(slots.StartTransfer(metainfoPath, targetPath, &metainfo));
  THeadlessDownloader &engine = *slots.Slots[0].Engine;
  ASSERT_FALSE(engine.ConsoleVisible());
  const TShiftState all = ssCtrl | ssAlt | ssShift;
  struct Case {
    std::uint16_t key;
    TShiftState shift;
    int progressState;
    bool visibleAfter;
  };
  constexpr std::array<Case, 9> cases{{
      {'V', all, 0, true},
      {'H', all, 1, false},
      {'V', ssCtrl | ssAlt, 0, false},
      {'V', ssCtrl | ssShift, 0, false},
      {'V', ssAlt | ssShift, 0, false},
      {'X', all, 0, false},
      {'V', all, 1, true},
      {'H', all, 2, true}, // after the fallback was chosen nothing happens
      {'H', all, 0, false},
  }};
  for (const auto &c : cases) {
    host.progressState = c.progressState;
    slots.FormKeyDown(c.key, c.shift);
    EXPECT_EQ(engine.ConsoleVisible(), c.visibleAfter)
        << char(c.key) << " shift " << c.shift << " state " << c.progressState;
  }
}

TEST_F(Slots, StopAllEnginesStopsEachOnce) {
  StandinScript s(script());
  ASSERT_TRUE(slots.StartTransfer(metainfoPath, targetPath, &metainfo));
  ASSERT_TRUE(slots.StartTransfer(copyMetainfo("other.torrent"), targetPath, &metainfo));
  const int pids[] = {slots.Slots[0].Engine->ProcessId(), slots.Slots[1].Engine->ProcessId()};
  slots.StopAllEngines();
  EXPECT_EQ(host.monitorStops, 1);
  for (int pid : pids)
    EXPECT_TRUE(processGone(pid));
  for (int i : {0, 1}) {
    EXPECT_TRUE(slots.Slots[i].Active);
    EXPECT_TRUE(slots.Slots[i].Stopped);
    EXPECT_FALSE(slots.Slots[i].Exited);
    EXPECT_FALSE(slots.Slots[i].Engine);
  }
  slots.StopAllEngines();
  slots.SetConsoleVisible(true); // reaches no engine, and does not crash
  slots.ReleaseSlot(-1);
  EXPECT_EQ(host.monitorStops, 2);
}

TEST_F(Slots, ReleaseSlotStopsOnlyThatEngine) {
  StandinScript s(script());
  ASSERT_TRUE(slots.StartTransfer(metainfoPath, targetPath, &metainfo));
  ASSERT_TRUE(slots.StartTransfer(copyMetainfo("other.torrent"), targetPath, &metainfo));
  const int first = slots.Slots[0].Engine->ProcessId();
  const int second = slots.Slots[1].Engine->ProcessId();
  slots.ReleaseSlot(1);
  EXPECT_TRUE(processGone(second));
  EXPECT_FALSE(processGone(first));
  EXPECT_TRUE(slots.Slots[1].Exited && slots.Slots[1].Stopped && !slots.Slots[1].Active);
  EXPECT_TRUE(slots.Slots[0].Active);
  // The slots' owner going away stops what is left.
  slots.Reset();
  EXPECT_TRUE(processGone(first));
}

} // namespace
} // namespace mirel
