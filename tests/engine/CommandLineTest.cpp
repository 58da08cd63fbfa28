#include "engine/TransferSlots.h"
#include "engine/headless.h"

#include <array>
#include <gtest/gtest.h>

namespace mirel {
namespace {

const std::string Metainfo = "/tmp/mirelS_TXDownTemp/mirelS.setup.exe.torrent";
const std::string Target = "/tmp/mirelS_TXDownTemp Work/Mirel Setup.exe";

TEST(EngineOptionsText, ExamplesCharacterForCharacter) {
  struct Case {
    const char *what;
    TEngineSettings settings;
    bool skipHashCheck;
    const char *expected;
  };
  TEngineSettings minPort;
  minPort.MinPort = 6882;
  TEngineSettings limited;
  limited.UploadRateUnlimited = false;
  TEngineSettings everything;
  everything.MinPort = 7000;
  everything.MaxPort = 7100;
  everything.UploadRateUnlimited = false;
  everything.MaxUploadRate = 50;
  everything.DisplayInterval = 2;
  const std::array<Case, 5> cases{{
      {"defaults",
       {},
       false,
       "--responsefile \"/tmp/mirelS_TXDownTemp/mirelS.setup.exe.torrent\" --saveas "
       "\"/tmp/mirelS_TXDownTemp Work/Mirel Setup.exe\" --max_uploads 10 --min_uploads 3 "
       "--display_interval 1"},
      {"MinPort 6882", minPort, false,
       "--responsefile \"/tmp/mirelS_TXDownTemp/mirelS.setup.exe.torrent\" --saveas "
       "\"/tmp/mirelS_TXDownTemp Work/Mirel Setup.exe\" --max_uploads 10 --min_uploads 3 "
       "--minport 6882 --display_interval 1"},
      {"upload rate limited", limited, false,
       "--responsefile \"/tmp/mirelS_TXDownTemp/mirelS.setup.exe.torrent\" --saveas "
       "\"/tmp/mirelS_TXDownTemp Work/Mirel Setup.exe\" --max_uploads 10 --min_uploads 3 "
       "--max_upload_rate 200 --display_interval 1"},
      {"hash check skipped",
       {},
       true,
       "--responsefile \"/tmp/mirelS_TXDownTemp/mirelS.setup.exe.torrent\" --saveas "
       "\"/tmp/mirelS_TXDownTemp Work/Mirel Setup.exe\" --check_hashes 0 --max_uploads 10 "
       "--min_uploads 3 --display_interval 1"},
      {"every option", everything, true,
       "--responsefile \"/tmp/mirelS_TXDownTemp/mirelS.setup.exe.torrent\" --saveas "
       "\"/tmp/mirelS_TXDownTemp Work/Mirel Setup.exe\" --check_hashes 0 --max_uploads 10 "
       "--min_uploads 3 --minport 7000 --maxport 7100 --max_upload_rate 50 "
       "--display_interval 2"},
  }};
  for (const auto &c : cases)
    EXPECT_EQ(EngineOptionsText(c.settings, Metainfo, Target, c.skipHashCheck), c.expected)
        << c.what;
}

TEST(EngineOptionsText, ExampleCommandLinesSplitIntoTheirArguments) {
  const std::string exe = "/tmp/mirelS_TXDownTemp/ZULdnheadless.exe";
  const std::vector<std::string> head{exe,        "--responsefile", Metainfo,
                                      "--saveas", Target,           "--max_uploads",
                                      "10",       "--min_uploads",  "3"};
  TEngineSettings minPort;
  minPort.MinPort = 6882;
  TEngineSettings limited;
  limited.UploadRateUnlimited = false;
  struct Case {
    TEngineSettings settings;
    std::vector<std::string> tail;
  };
  const std::array<Case, 3> cases{{
      {{}, {"--display_interval", "1"}},
      {minPort, {"--minport", "6882", "--display_interval", "1"}},
      {limited, {"--max_upload_rate", "200", "--display_interval", "1"}},
  }};
  for (const auto &c : cases) {
    auto expected = head;
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    const std::string line =
        "\"" + exe + "\" " + EngineOptionsText(c.settings, Metainfo, Target, false);
    EXPECT_EQ(SplitCommandLine(line), expected) << line;
  }
}

TEST(SplitCommandLine, WindowsRules) {
  struct Case {
    const char *line;
    std::vector<std::string> argv;
  };
  const std::array<Case, 9> cases{{
      {"\"/e/ZULdnheadless.exe\" --responsefile \"/a b/m.torrent\" --saveas \"/c/d e.exe\" "
       "--max_uploads 10 --min_uploads 3 --display_interval 1",
       {"/e/ZULdnheadless.exe", "--responsefile", "/a b/m.torrent", "--saveas", "/c/d e.exe",
        "--max_uploads", "10", "--min_uploads", "3", "--display_interval", "1"}},
      {"a  b\tc ", {"a", "b", "c"}},
      {"", {}},
      {"   ", {}},
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"x\"y z\"w", {"xy zw"}},
      {"C:\\dir\\ \"back\\slash\\\"", {"C:\\dir\\", "back\\slash\\"}},
      {"\"unterminated quote", {"unterminated quote"}},
  }};
  for (const auto &c : cases)
    EXPECT_EQ(SplitCommandLine(c.line), c.argv) << c.line;
}

TEST(StripQuotes, Table) {
  struct Case {
    const char *text;
    const char *expected;
  };
  constexpr std::array<Case, 7> cases{{{"\"/tmp/a.torrent\"", "/tmp/a.torrent"},
                                       {"ab", ""},
                                       {"\"\"", ""},
                                       {"", ""},
                                       {"abc", "abc"},
                                       {"\"/tmp/a.torrent", "/tmp/a.torren"},
                                       {"/tmp/a.torrent", "/tmp/a.torrent"}}};
  for (const auto &c : cases)
    EXPECT_EQ(StripQuotes(c.text), c.expected) << c.text;
}

TEST(StartupTitle, FileNameWithoutFolder) {
  EXPECT_EQ(StartupTitle("/tmp/x/mirelS.setup.exe.torrent"),
            "ZUL! Initializing mirelS.setup.exe.torrent");
  EXPECT_EQ(StartupTitle("plain.torrent"), "ZUL! Initializing plain.torrent");
}

} // namespace
} // namespace mirel
