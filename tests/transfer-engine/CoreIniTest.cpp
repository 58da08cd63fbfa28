#include "sandbox.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The engine description file is written into the bundle byte for byte.
TEST(CoreIni, ExactLinesWithCrLfAndNoFinalLineEnd) {
  const std::string bytes = mirel::test::readFile(MIREL_SOURCE_DIR "/assets/Core.ini");
  ASSERT_FALSE(bytes.empty());
  EXPECT_NE(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_NE(bytes.back(), '\n');

  std::vector<std::string> lines;
  std::size_t pos = 0;
  for (;;) {
    auto end = bytes.find("\r\n", pos);
    lines.push_back(bytes.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    if (end == std::string::npos)
      break;
    pos = end + 2;
  }
  ASSERT_EQ(lines.size(), 11u);
  for (const auto &line : lines)
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line end in: " << line;

  const std::vector<std::string> fixed = {"[flint-download-core]",
                                          "name=DorAvivezezODO",
                                          "version=1.1.3",
                                          "",
                                          "exe=btdownloadheadless.exe",
                                          "",
                                          "[flint-capability]",
                                          "alloctype=0",
                                          "",
                                          "[flint-commandline]",
                                          "maxconnections=max_allow_in"};
  for (std::size_t i = 0; i < fixed.size(); ++i) {
    if (i != 3) {
      EXPECT_EQ(lines[i], fixed[i]) << "line " << i + 1;
    }
  }

  const std::string &description = lines[3];
  EXPECT_EQ(description.rfind("description=", 0), 0u) << description;
  EXPECT_NE(description.find("BitTorrent"), std::string::npos);
  EXPECT_NE(description.find("3.5"), std::string::npos);
  EXPECT_NE(description.find("CVS"), std::string::npos);
  EXPECT_NE(description.find("compact"), std::string::npos);
}

} // namespace
