#include "platform/URLDownloadToFile.h"

#include "httpservers.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>

namespace mirel {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Recorder : IBindStatusCallback {
  int starts = 0;
  int stops = 0;
  int32_t stopCode = 12345;
  std::string error;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  std::vector<Clock::time_point> times;
  std::function<bool()> keepGoing = [] { return true; };

  void OnStartBinding() override { ++starts; }
  bool OnProgress(uint64_t received, uint64_t total, const std::string &) override {
    progress.emplace_back(received, total);
    times.push_back(Clock::now());
    return keepGoing();
  }
  void OnStopBinding(int32_t result, const std::string &errorText) override {
    ++stops;
    stopCode = result;
    error = errorText;
  }
  long longestGapMs() const {
    long gap = 0;
    for (size_t i = 1; i < times.size(); ++i)
      gap = std::max<long>(
          gap,
          std::chrono::duration_cast<std::chrono::milliseconds>(times[i] - times[i - 1]).count());
    return gap;
  }
};

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(i % 251);
  return s;
}

class URLDownloadToFileTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { faults_ = new test::FaultServer(); }
  static void TearDownTestSuite() {
    delete faults_;
    faults_ = nullptr;
  }
  static test::FaultServer *faults_;
  test::Sandbox sandbox_;
};
test::FaultServer *URLDownloadToFileTest::faults_ = nullptr;

struct FaultCase {
  const char *path;
  bool succeeds;
  const char *errorHas; // part of the error text on failure
  size_t bytes;         // file size on success
  bool lengthKnown;
};

TEST_F(URLDownloadToFileTest, MisbehavingServersFailAndLeaveNoFile) {
  static const std::array<FaultCase, 11> cases{{
      {"ok/1000", true, "", 1000, true},
      {"status/404", false, "404", 0, false},
      {"status/500", false, "500", 0, false},
      {"status/403", false, "403", 0, false},
      {"loop", false, "redirect", 0, false},
      {"tofile", false, "file", 0, false},
      {"drop", false, "", 0, false},
      {"garbage", false, "", 0, false},
      {"badheaders", false, "", 0, false},
      {"nolength/5000", true, "", 5000, false},
      {"shortlength", true, "", 10, true}, // the announced length is what counts
  }};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    Recorder rec;
    const std::string target = sandbox_.file("out.bin");
    int32_t code = URLDownloadToFile(faults_->url(c.path), target, &rec);
    EXPECT_EQ(rec.starts, 1);
    EXPECT_EQ(rec.stops, 1);
    EXPECT_EQ(rec.stopCode, code);
    if (c.succeeds) {
      EXPECT_EQ(code, S_OK);
      EXPECT_EQ(rec.error, "");
      EXPECT_EQ(test::readFile(target), pattern(c.bytes));
      ASSERT_FALSE(rec.progress.empty());
      EXPECT_EQ(rec.progress.back().first, c.bytes);
      EXPECT_EQ(rec.progress.back().second, c.lengthKnown ? c.bytes : 0u);
    } else {
      EXPECT_NE(code, S_OK);
      EXPECT_NE(rec.error, "");
      EXPECT_NE(rec.error.find(c.errorHas), std::string::npos) << rec.error;
      EXPECT_FALSE(fs::exists(target));
    }
  }
}

TEST_F(URLDownloadToFileTest, StalledServersEndAtTheLowSpeedLimit) {
  URLDownloadLimits limits;
  limits.LowSpeedBytes = 100;
  limits.LowSpeedSeconds = 2;
  for (const char *path : {"slow", "hang"}) {
    SCOPED_TRACE(path);
    Recorder rec;
    auto start = Clock::now();
    int32_t code = URLDownloadToFile(faults_->url(path), sandbox_.file("slow.bin"), &rec, limits);
    EXPECT_NE(code, S_OK);
    EXPECT_NE(rec.error, "");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_LT(rec.longestGapMs(), 100);
    EXPECT_FALSE(fs::exists(sandbox_.file("slow.bin")));
  }
}

TEST_F(URLDownloadToFileTest, ConnectTimeOutEndsAFetchThatNeverConnects) {
  test::BlackholeListener blackhole;
  URLDownloadLimits limits;
  limits.ConnectTimeoutMs = 600;
  Recorder rec;
  auto start = Clock::now();
  int32_t code = URLDownloadToFile(blackhole.url("x"), sandbox_.file("x"), &rec, limits);
  auto took = Clock::now() - start;
  EXPECT_NE(code, S_OK);
  EXPECT_NE(rec.error, "");
  EXPECT_GE(took, std::chrono::milliseconds(500));
  EXPECT_LT(took, std::chrono::seconds(5));
  // The caller kept getting control while the connect hung.
  EXPECT_GE(rec.progress.size(), 5u);
  EXPECT_LT(rec.longestGapMs(), 100);
}

TEST_F(URLDownloadToFileTest, AbortFromTheCallbackEndsTheTransfer) {
  Recorder rec;
  rec.keepGoing = [] { return false; };
  int32_t code = URLDownloadToFile(faults_->url("slow"), sandbox_.file("a"), &rec);
  EXPECT_EQ(code, E_ABORT);
  EXPECT_EQ(rec.stopCode, E_ABORT);
  EXPECT_NE(rec.error, "");
  EXPECT_EQ(rec.progress.size(), 1u);
  EXPECT_FALSE(fs::exists(sandbox_.file("a")));
}

TEST_F(URLDownloadToFileTest, AnExceptionFromTheCallbackAbortsCleanly) {
  Recorder rec;
  rec.keepGoing = [&] {
    if (!rec.progress.empty() && rec.progress.back().first > 0)
      throw std::runtime_error("handler failed");
    return true;
  };
  int32_t code = URLDownloadToFile(faults_->url("ok/3000000"), sandbox_.file("t"), &rec);
  EXPECT_EQ(code, E_ABORT);
  EXPECT_NE(rec.error.find("handler failed"), std::string::npos) << rec.error;
  EXPECT_FALSE(fs::exists(sandbox_.file("t")));
}

TEST_F(URLDownloadToFileTest, OtherSchemesAndBadURLsNeverStart) {
  const std::string secret = sandbox_.write("secret.txt", "local data");
  const std::array<std::string, 7> urls{
      "file://" + secret, "FILE://" + secret, "ftp://127.0.0.1/x",    "",
      "http://",          "not a url",        "http:\\\\127.0.0.1\\x"};
  for (const auto &url : urls) {
    SCOPED_TRACE(url);
    Recorder rec;
    const std::string target = sandbox_.file("out");
    EXPECT_NE(URLDownloadToFile(url, target, &rec), S_OK);
    EXPECT_EQ(rec.starts, 0);
    EXPECT_EQ(rec.stops, 0);
    EXPECT_FALSE(fs::exists(target));
  }
  EXPECT_EQ(URLDownloadToFile("file://" + secret, sandbox_.file("out"), nullptr),
            INET_E_UNKNOWN_PROTOCOL);
}

TEST_F(URLDownloadToFileTest, RequestsAskCachesToRevalidate) {
  const std::string target = sandbox_.file("headers.txt");
  ASSERT_EQ(URLDownloadToFile(faults_->url("headers"), target, nullptr), S_OK);
  EXPECT_NE(test::readFile(target).find("Cache-Control: no-cache"), std::string::npos);
}

TEST_F(URLDownloadToFileTest, AFileThatCannotBeCreatedIsAFailure) {
  Recorder rec;
  int32_t code = URLDownloadToFile(faults_->url("ok/10"), sandbox_.file("no/such/dir/f"), &rec);
  EXPECT_EQ(code, INET_E_CANNOT_WRITE_FILE);
  EXPECT_EQ(rec.starts, 1);
  EXPECT_NE(rec.error.find("cannot create"), std::string::npos) << rec.error;

  // A link planted at the name is not followed to overwrite its target.
  const std::string victim = sandbox_.write("victim.txt", "keep me");
  fs::create_symlink(victim, sandbox_.file("link"));
  EXPECT_EQ(URLDownloadToFile(faults_->url("ok/10"), sandbox_.file("link"), nullptr),
            INET_E_CANNOT_WRITE_FILE);
  EXPECT_EQ(test::readFile(victim), "keep me");
}

TEST_F(URLDownloadToFileTest, FetchesFromNginxAlsoThroughEscapesAndRedirects) {
  std::string data(3 * 1024 * 1024 + 17, '\0');
  std::mt19937 rng(7);
  for (char &c : data)
    c = static_cast<char>(rng());
  test::Sandbox root;
  root.write("mirel-setup_1.bin", data);
  test::NginxServer nginx(root.path().string());

  const std::string escapedHost =
      "http://127%2E0%2E0%2E1:" + std::to_string(nginx.port()) + "/mirel%2Dsetup%5F1%2Ebin";
  const std::array<std::string, 3> urls{
      nginx.url("mirel-setup_1.bin"), escapedHost,
      faults_->url("redirect?to=" + nginx.url("mirel-setup_1.bin"))};
  for (const auto &url : urls) {
    SCOPED_TRACE(url);
    Recorder rec;
    const std::string target = sandbox_.file("setup.bin");
    ASSERT_EQ(URLDownloadToFile(url, target, &rec), S_OK) << rec.error;
    EXPECT_TRUE(test::readFile(target) == data);
    ASSERT_FALSE(rec.progress.empty());
    EXPECT_EQ(rec.progress.back().first, data.size());
    EXPECT_EQ(rec.progress.back().second, data.size());
    for (size_t i = 1; i < rec.progress.size(); ++i)
      EXPECT_LE(rec.progress[i - 1].first, rec.progress[i].first);
  }
  // A missing file is nginx's 404, not its error page saved as the file.
  Recorder rec;
  EXPECT_EQ(URLDownloadToFile(nginx.url("missing.bin"), sandbox_.file("m"), &rec),
            INET_E_RESOURCE_NOT_FOUND);
  EXPECT_NE(rec.error.find("404"), std::string::npos);
  EXPECT_FALSE(fs::exists(sandbox_.file("m")));
}

} // namespace
} // namespace mirel
