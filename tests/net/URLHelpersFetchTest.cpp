#include "net/URLHelpers.h"

#include "httpservers.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <sys/stat.h>

namespace mirel {
namespace {

namespace fs = std::filesystem;

class FetchURLToFileTest : public ::testing::Test {
protected:
  FetchURLToFileTest() {
    root_.write("mirelS.setup.exe.torrent", "d8:announce3:urle");
    root_.write("with space-(1).bin", "spaced");
    root_.write("\xC7\xD1\xB1\xDB.bin", "korean");
  }
  test::Sandbox root_;
  test::NginxServer nginx_{root_.path().string()};
  test::Sandbox work_;
};

TEST_F(FetchURLToFileTest, EscapedURLsReachTheSameFile) {
  const std::string port = std::to_string(nginx_.port());
  const std::array<std::string, 4> urls{
      nginx_.url("mirelS.setup.exe.torrent"),
      "http://127%2E0%2E0%2E1:" + port + "/mirelS%2Esetup%2Eexe%2Etorrent",
      nginx_.url("with space-(1).bin"),
      nginx_.url("\xC7\xD1\xB1\xDB.bin"),
  };
  const std::array<std::string, 4> bodies{"d8:announce3:urle", "d8:announce3:urle", "spaced",
                                          "korean"};
  for (size_t i = 0; i < urls.size(); ++i) {
    const std::string target = work_.file("fetched");
    EXPECT_EQ(FetchURLToFile(urls[i], target), 0) << urls[i];
    EXPECT_EQ(test::readFile(target), bodies[i]) << urls[i];
  }
}

TEST_F(FetchURLToFileTest, AReadOnlyFileIsReplaced) {
  const std::string target = work_.write("mirelS.setup.exe.torrent", "old contents, longer");
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  EXPECT_EQ(FetchURLToFile(nginx_.url("mirelS.setup.exe.torrent"), target), 0);
  EXPECT_EQ(test::readFile(target), "d8:announce3:urle");
}

TEST_F(FetchURLToFileTest, FailuresAreNonzeroAndLeaveNoFile) {
  const std::array<std::string, 6> urls{
      nginx_.url("missing.torrent"),
      "",
      nginx_.url("a\\b\\mirelS.setup.exe.torrent"),
      "file://" + root_.file("mirelS.setup.exe.torrent"),
      "http://127.0.0.1:" + std::to_string(nginx_.port() == 1 ? 2 : 1) + "/x",
      "http://\xC7\xD1\xB1\xDB/x",
  };
  for (const auto &url : urls) {
    const std::string target = work_.write("stale.torrent", "left from an earlier run");
    EXPECT_NE(FetchURLToFile(url, target), 0) << url;
    EXPECT_FALSE(fs::exists(target)) << url;
  }
}

} // namespace
} // namespace mirel
