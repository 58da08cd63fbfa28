#include "net/URLDownload.h"
#include "net/URLHelpers.h"

#include "httpservers.h"
#include "platform/MessagePump.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace mirel {
namespace {

namespace fs = std::filesystem;

struct CountingDisplay : IFetchDisplay {
  int writes = 0;
  std::string percent, remain;
  void SetSpeedText(const std::string &) override { ++writes; }
  void SetDownText(const std::string &) override { ++writes; }
  void SetGaugePosition(uint32_t) override { ++writes; }
  void SetPercentText(const std::string &t) override { percent = t, ++writes; }
  void SetRemainText(const std::string &t) override { remain = t, ++writes; }
};

class FetchTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { faults_ = new test::FaultServer(); }
  static void TearDownTestSuite() {
    delete faults_;
    faults_ = nullptr;
  }
  FetchTest() {
    data_.assign(2 * 1024 * 1024, '\0');
    for (size_t i = 0; i < data_.size(); ++i)
      data_[i] = static_cast<char>(i * 131 % 256);
    root_.write("setup.exe", data_);
    SetMessagePump([this] { ++pumps_; });
  }
  ~FetchTest() override { SetMessagePump(nullptr); }

  static test::FaultServer *faults_;
  std::string data_;
  test::Sandbox root_;
  test::NginxServer nginx_{root_.path().string()};
  test::Sandbox work_;
  int pumps_ = 0;
};
test::FaultServer *FetchTest::faults_ = nullptr;

TEST_F(FetchTest, FetchesIntoTheFileAndPumps) {
  TURLDownload download;
  CountingDisplay display;
  download.Display = &display;
  int begins = 0, ends = 0;
  download.OnFetchEnd = [&](TURLDownload &) { ++ends; };
  const std::string target = work_.write("setup.exe", "an old read-only copy");
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  download.URL = nginx_.url("setup.exe");
  EXPECT_TRUE(download.Fetch(target));
  EXPECT_TRUE(download.Started);
  EXPECT_EQ(download.StatusText, "");
  EXPECT_EQ(download.FileName, target);
  EXPECT_TRUE(test::readFile(target) == data_);
  EXPECT_GT(pumps_, 0);
  EXPECT_EQ(ends, 1);
  // All data came within a second of the first notification: no figures.
  EXPECT_EQ(display.writes, 0);

  TURLDownload withBegin;
  withBegin.URL = download.URL;
  withBegin.LastTick = 777;
  withBegin.Tick = [] { return 1277u; }; // within the throttle of 777, not of 0
  withBegin.OnFetchBegin = [&](TURLDownload &, const std::string &url) {
    ++begins;
    EXPECT_EQ(url, download.URL);
  };
  EXPECT_TRUE(withBegin.Fetch(work_.file("second.exe")));
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(withBegin.LastTick, 777u); // the event replaces the built-in reset
}

TEST_F(FetchTest, BytesReceivedFollowsTheFileOnDisk) {
  // A reader of the arriving file relies on this: each count is already in
  // the file, counts never go back, and the last one is the whole file.
  TURLDownload download;
  CountingDisplay display;
  download.Display = &display;
  const std::string target = work_.file("setup.exe");
  std::vector<uint64_t> counts;
  bool behindTheFile = true;
  download.OnBytesReceived = [&](uint64_t received) {
    struct stat st {};
    if (received > 0 &&
        (stat(target.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) < received))
      behindTheFile = false;
    counts.push_back(received);
  };
  download.URL = nginx_.url("setup.exe");
  ASSERT_TRUE(download.Fetch(target));
  ASSERT_FALSE(counts.empty());
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  EXPECT_EQ(counts.back(), data_.size());
  EXPECT_TRUE(behindTheFile);
  EXPECT_GT(pumps_, 0); // the hook comes on top of the usual notification
}

TEST_F(FetchTest, FailuresAnswerFalse) {
  struct Case {
    std::string url;
    const char *statusHas;
    bool started;
  };
  const std::array<Case, 10> cases{{
      {faults_->url("status/404"), "404", true},
      {faults_->url("status/500"), "500", true},
      {faults_->url("loop"), "", true},
      {faults_->url("tofile"), "", true},
      {faults_->url("drop"), "", true},
      {faults_->url("garbage"), "", true},
      {faults_->url("badheaders"), "", true},
      {nginx_.url("missing.exe"), "404", true},
      {"", "", false},
      {"file://" + root_.file("setup.exe"), "", false},
  }};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.url);
    TURLDownload download;
    download.URL = c.url;
    const std::string target = work_.write("out.exe", "stale");
    EXPECT_FALSE(download.Fetch(target));
    EXPECT_EQ(download.Started, c.started);
    EXPECT_NE(download.StatusText.find(c.statusHas), std::string::npos) << download.StatusText;
    if (c.started) {
      EXPECT_NE(download.StatusText, "");
    }
    EXPECT_FALSE(fs::exists(target));
  }
}

TEST_F(FetchTest, ClosingDuringAFetchAbortsIt) {
  bool closing = false;
  SetMessagePump([&] { closing = true; }); // the user closes the window
  TURLDownload download;
  download.URL = faults_->url("slow");
  download.Closing = &closing;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(download.Fetch(work_.file("slow.exe")));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(download.Started);
  EXPECT_NE(download.StatusText, "");
  EXPECT_FALSE(fs::exists(work_.file("slow.exe")));

  // A request to abort ends it the same way.
  TURLDownload requested;
  requested.URL = faults_->url("slow");
  requested.OnFetchProgress = [](TURLDownload &sender, uint32_t, uint32_t, const std::string &,
                                 bool &) { sender.AbortRequested = true; };
  EXPECT_FALSE(requested.Fetch(work_.file("slow.exe")));
}

TEST_F(FetchTest, TheProgressFetchSendsItsURLUnescaped) {
  const std::string url = faults_->url("headers?x=1");
  TURLDownload download;
  download.URL = url;
  ASSERT_TRUE(download.Fetch(work_.file("plain.txt")));
  EXPECT_NE(test::readFile(work_.file("plain.txt")).find("GET /headers?x=1 "), std::string::npos);
  ASSERT_EQ(FetchURLToFile(url, work_.file("escaped.txt")), 0);
  EXPECT_NE(test::readFile(work_.file("escaped.txt")).find("GET /headers?x%3D1 "),
            std::string::npos);
}

TEST_F(FetchTest, DisplayStaysSaneWithoutOrWithAShortLength) {
  // A clock that runs 1.1 s per reading makes every notification show.
  for (const char *path : {"nolength/300000", "shortlength"}) {
    SCOPED_TRACE(path);
    uint32_t clock = 0;
    CountingDisplay display;
    TURLDownload download;
    download.URL = faults_->url(path);
    download.Display = &display;
    download.Tick = [&] { return clock += 1100; };
    EXPECT_TRUE(download.Fetch(work_.file("out.bin")));
    EXPECT_GT(display.writes, 0);
    if (std::string(path) == "shortlength") {
      EXPECT_EQ(display.percent, "100.0%");
      EXPECT_EQ(display.remain, " 00 분 00 초");
    } else {
      EXPECT_EQ(display.percent, ""); // no length: never a percentage
    }
  }
}

} // namespace
} // namespace mirel
