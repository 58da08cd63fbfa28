#include "EngineOptions.h"

#include <array>
#include <gtest/gtest.h>

namespace mirel {
namespace {

using Args = std::vector<std::string>;

TEST(EngineOptions, ReadsTheHostCommandLine) {
  EngineOptions o = parseEngineOptions(
      {"--responsefile", "/tmp/w/mirelS.setup.exe.torrent", "--saveas", "/tmp/w/Setup Mirel.exe",
       "--check_hashes", "0", "--max_uploads", "10", "--min_uploads", "3", "--minport", "6882",
       "--maxport", "7000", "--max_upload_rate", "200", "--display_interval", "1"});
  EXPECT_EQ(o.responseFile, "/tmp/w/mirelS.setup.exe.torrent");
  EXPECT_EQ(o.saveAs, "/tmp/w/Setup Mirel.exe");
  EXPECT_FALSE(o.checkHashes);
  EXPECT_EQ(o.maxUploads, 10);
  EXPECT_EQ(o.minUploads, 3);
  EXPECT_EQ(o.minPort, 6882);
  EXPECT_EQ(o.maxPort, 7000);
  EXPECT_EQ(o.maxUploadRate, 200);
  EXPECT_DOUBLE_EQ(o.displayInterval, 1.0);
}

TEST(EngineOptions, DefaultsForWhatIsLeftOut) {
  EngineOptions o = parseEngineOptions({"--responsefile", "a.torrent"});
  EXPECT_TRUE(o.checkHashes);
  EXPECT_TRUE(o.saveAs.empty());
  EXPECT_EQ(o.minPort, 6881);
  EXPECT_EQ(o.maxPort, 6999);
  EXPECT_EQ(o.maxUploadRate, 0);
  EXPECT_DOUBLE_EQ(o.displayInterval, 1.0);
  EXPECT_DOUBLE_EQ(
      parseEngineOptions({"--responsefile", "a", "--display_interval", "0.5"}).displayInterval,
      0.5);
}

struct BadCase {
  Args args;
  const char *expect; // part of the message
};

TEST(EngineOptions, RejectsBadCommandLines) {
  const std::array<BadCase, 16> cases{{
      {{}, "no metainfo file"},
      {{"--saveas", "x"}, "no metainfo file"},
      {{"--responsefile"}, "needs a value"},
      {{"--responsefile", "a", "--max_uploads"}, "needs a value"},
      {{"--responsefile", ""}, "needs a file name"},
      {{"--responsefile", "a", "--bogus", "1"}, "unknown option"},
      {{"--responsefile", "a", "-x", "1"}, "unexpected argument"},
      {{"a.torrent"}, "unexpected argument"},
      {{"--responsefile", "a", "--max_uploads", "ten"}, "bad value for --max_uploads"},
      {{"--responsefile", "a", "--max_uploads", "-1"}, "bad value for --max_uploads"},
      {{"--responsefile", "a", "--minport", "70000"}, "bad value for --minport"},
      {{"--responsefile", "a", "--maxport", "12x"}, "bad value for --maxport"},
      {{"--responsefile", "a", "--check_hashes", "yes"}, "bad value for --check_hashes"},
      {{"--responsefile", "a", "--display_interval", "0"}, "bad value for --display_interval"},
      {{"--responsefile", "a", "--display_interval", "nan"}, "bad value for --display_interval"},
      {{"--responsefile", "a", "--minport", "7000", "--maxport", "6999"}, "above --maxport"},
  }};
  for (const auto &c : cases) {
    std::string joined;
    for (const auto &a : c.args)
      joined += "[" + a + "]";
    try {
      parseEngineOptions(c.args);
      ADD_FAILURE() << "accepted " << joined;
    } catch (const EOptionError &e) {
      EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos)
          << joined << " gave: " << e.what();
    }
  }
}

} // namespace
} // namespace mirel
