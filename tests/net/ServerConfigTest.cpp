#include "net/ServerConfig.h"

#include "httpservers.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <sys/stat.h>

namespace mirel {
namespace {

namespace fs = std::filesystem;

class ServerConfigTest : public ::testing::Test {
protected:
  std::string base() const { return nginx_.url(); }
  std::string workFolder() const { return work_.file("mirelS") + "/"; }
  void publish(const std::string &ini) { root_.write("Download.ini", ini); }

  test::Sandbox root_;
  test::NginxServer nginx_{root_.path().string()};
  test::Sandbox work_;
};

TEST_F(ServerConfigTest, WaitTimeForms) {
  struct Case {
    const char *ini;
    int32_t seconds;
  };
  static const std::array<Case, 9> cases{{
      {"[Connection]\nWaitTime=25\n", 25},
      {"[Connection]\nWaitTime=0x1E\n", 30},
      {"[Connection]\nWaitTime=$1E\n", 30},
      {"[Connection]\nWaitTime=-5\n", -5},
      {"[Connection]\nWaitTime=abc\n", 10},
      {"[Connection]\nWaitTime=\n", 10},
      {"[Download]\nWaitTime=25\n", 10},
      {"[connection]\r\nwaittime=40\r\n", 40},
      {"\x01\x02\xff\xfe[Connection\x00]", 10},
  }};
  for (const auto &c : cases) {
    publish(c.ini);
    EXPECT_EQ(ReadWaitTime(workFolder(), base()), c.seconds) << c.ini;
    EXPECT_TRUE(fs::exists(workFolder() + "Download.ini"));
  }
}

TEST_F(ServerConfigTest, WaitTimeWhenTheFileCannotBeFetched) {
  // Missing on the server: 10, and the old copy is gone.
  work_.write("mirelS/Download.ini", "[Connection]\nWaitTime=99\n");
  EXPECT_EQ(ReadWaitTime(workFolder(), base()), 10);
  EXPECT_FALSE(fs::exists(workFolder() + "Download.ini"));

  // A server that never answers: 10 after the connect time-out.
  test::BlackholeListener blackhole;
  TFetchContext context;
  context.Limits.ConnectTimeoutMs = 300;
  EXPECT_EQ(ReadWaitTime(workFolder(), blackhole.url(), context), 10);

  // A window that is closing aborts the fetch.
  publish("[Connection]\nWaitTime=25\n");
  bool closing = true;
  context = {};
  context.Closing = &closing;
  EXPECT_EQ(ReadWaitTime(workFolder(), base(), context), 10);
}

TEST_F(ServerConfigTest, TheWorkFolderIsMadeWhenMissing) {
  publish("[Connection]\nWaitTime=25\n");
  ASSERT_FALSE(fs::exists(workFolder()));
  EXPECT_EQ(ReadWaitTime(workFolder(), base()), 25);
  EXPECT_TRUE(fs::is_directory(workFolder()));
  // One level only: a folder below a missing one is not made, and that is a
  // failed fetch, not a crash.
  EXPECT_EQ(ReadWaitTime(work_.file("a/b") + "/", base()), 10);
}

TEST_F(ServerConfigTest, DownloadURL) {
  struct Case {
    const char *ini;
    const char *url;
  };
  static const std::array<Case, 6> cases{{
      {"[Download]\nmirelS=http://mirror/setup.exe\n", "http://mirror/setup.exe"},
      {"[Download]\nMirels=http://a/b c.exe\n", "http://a/b c.exe"},
      {"[DOWNLOAD]\nMIRELS=x\n", "x"},
      {"[Download]\nother=http://other\n", ""},
      {"[Connection]\nWaitTime=5\n", ""},
      {"no sections at all\nmirelS=y\n", ""},
  }};
  fs::create_directory(workFolder());
  for (const auto &c : cases) {
    publish(c.ini);
    EXPECT_EQ(ReadDownloadURL(workFolder(), base(), "mirelS", "Setup.exe"), c.url) << c.ini;
  }
}

TEST_F(ServerConfigTest, DownloadURLFallsBackWhenTheFileCannotBeFetched) {
  fs::create_directory(workFolder());
  EXPECT_EQ(ReadDownloadURL(workFolder(), base(), "mirelS", "Setup.exe"), base() + "Setup.exe");
  const std::string closed = "http://127.0.0.1:1/";
  EXPECT_EQ(ReadDownloadURL(workFolder(), closed, "mirelS", "Setup.exe"), closed + "Setup.exe");
}

TEST_F(ServerConfigTest, AReadOnlyCopyLeftBehindIsReplaced) {
  const std::string old = work_.write("mirelS/Download.ini", "[Connection]\nWaitTime=99\n");
  ASSERT_EQ(chmod(old.c_str(), 0444), 0);
  publish("[Connection]\nWaitTime=25\n[Download]\nmirelS=http://new/s.exe\n");
  EXPECT_EQ(ReadWaitTime(workFolder(), base()), 25);
  ASSERT_EQ(chmod(old.c_str(), 0444), 0);
  EXPECT_EQ(ReadDownloadURL(workFolder(), base(), "mirelS", "S.exe"), "http://new/s.exe");
}

} // namespace
} // namespace mirel
