#include "engine/Helpers.h"

#include "sandbox.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/mount.h>
#include <sys/statvfs.h>

namespace mirel {
namespace {

TEST(ZeroPad, PadsNeverCuts) {
  struct Case {
    const char *text;
    int length;
    const char *expected;
  };
  constexpr std::array<Case, 6> cases{{{"7", 2, "07"},
                                       {"123", 2, "123"},
                                       {"", 2, "00"},
                                       {"5", 0, "5"},
                                       {"5", -3, "5"},
                                       {"42", 5, "00042"}}};
  for (const auto &c : cases)
    EXPECT_EQ(ZeroPad(c.text, c.length), c.expected) << c.text << " to " << c.length;
}

TEST(SecondsToText, CompactAndFullForms) {
  struct Case {
    bool compact;
    double seconds;
    const char *expected;
  };
  const std::array<Case, 12> cases{{{true, 17, "17 초"},
                                    {true, 5, "05 초"},
                                    {true, 0, "00 초"},
                                    {true, 59.9, "59 초"},
                                    {true, 65, "01 분"},
                                    {true, 3599, "59 분"},
                                    {true, 3725, "1 시간 02 분"},
                                    {true, 36000, "10 시간 00 분"},
                                    {false, 65, "00 시간 01 분"},
                                    {false, 3725, "01 시간 02 분"},
                                    {false, 5, "00 시간 00 분"},
                                    {false, 360000, "100 시간 00 분"}}};
  for (const auto &c : cases)
    EXPECT_EQ(SecondsToText(c.compact, c.seconds), c.expected)
        << c.seconds << (c.compact ? " compact" : " full");
}

TEST(SecondsToText, AbsurdTimesStayDefined) {
  // A nearly stalled rate gives huge or non-finite times; no overflow.
  EXPECT_EQ(SecondsToText(true, std::nan("")), "00 초");
  EXPECT_NE(SecondsToText(true, INFINITY).find(" 시간 "), std::string::npos);
  EXPECT_NE(SecondsToText(true, 1e300).find(" 시간 "), std::string::npos);
}

TEST(ParseLocaleFloat, ReadsBothSeparators) {
  struct Case {
    const char *text;
    char separator;
    double expected;
  };
  constexpr std::array<Case, 10> cases{{{"45.3", '.', 45.3},
                                        {"45.3", ',', 45.3},
                                        {"45,3", '.', 45.3},
                                        {"45,3", ',', 45.3},
                                        {"", '.', 0},
                                        {"12", ',', 12},
                                        {" -1.5 ", '.', -1.5},
                                        {"+2e3", '.', 2000},
                                        {"1.5E-1", ',', 0.15},
                                        {".5", '.', 0.5}}};
  for (const auto &c : cases)
    EXPECT_DOUBLE_EQ(ParseLocaleFloat(c.text, c.separator), c.expected)
        << "'" << c.text << "' with '" << c.separator << "'";
}

TEST(ParseLocaleFloat, RaisesForNonNumbers) {
  constexpr std::array<const char *, 9> bad{"abc", "12abc", "1.2.3", "1,2,3", "-",
                                            "1e",  "inf",   "nan",   "1e999"};
  for (const char *text : bad) {
    EXPECT_THROW(ParseLocaleFloat(text, '.'), EConvertError) << text;
    EXPECT_THROW(ParseLocaleFloat(text, ','), EConvertError) << text;
  }
}

TEST(ParseLenientFloat, NeverRaises) {
  struct Case {
    const char *text;
    double expected;
  };
  constexpr std::array<Case, 12> cases{{{"1.50", 1.5},
                                        {"?", 0},
                                        {"", 0},
                                        {" ", 0},
                                        {"512.00", 512},
                                        {"  -3.25", -3.25},
                                        {"1e2", 100},
                                        {"2E-2", 0.02},
                                        {"1,50", 0},
                                        {"12abc", 0},
                                        {"abc", 0},
                                        {"1e999", 0}}};
  for (const auto &c : cases)
    EXPECT_DOUBLE_EQ(ParseLenientFloat(c.text), c.expected) << "'" << c.text << "'";
}

// A filesystem of known free space: a small tmpfs where mounting is allowed,
// else the test folder's own filesystem (then free space may drift a little).
class SmallDisk : public ::testing::Test {
protected:
  void SetUp() override {
    mountPoint = sandbox.path() / "disk";
    std::filesystem::create_directory(mountPoint);
    mounted = mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") == 0;
    if (!mounted)
      std::cerr << "no tmpfs here; the test folder's own filesystem is used\n";
  }
  void TearDown() override {
    if (mounted)
      umount2(mountPoint.c_str(), MNT_DETACH);
  }
  std::int64_t freeBytes() const {
    struct statvfs st {};
    EXPECT_EQ(statvfs(mountPoint.c_str(), &st), 0);
    return static_cast<std::int64_t>(st.f_bavail) * static_cast<std::int64_t>(st.f_frsize);
  }

  test::Sandbox sandbox;
  std::filesystem::path mountPoint;
  bool mounted = false;
};

TEST_F(SmallDisk, FreeSpaceBelowEqualAndAboveTheNeed) {
  const std::string target = (mountPoint / "sub" / "folder" / "setup.exe").string();
  const std::int64_t free = freeBytes();
  ASSERT_GT(free, 0);
  EXPECT_EQ(FreeDiskSpace(target), mounted ? free : FreeDiskSpace(target));
  if (mounted) {
    EXPECT_EQ(free, 1 << 20);
    EXPECT_TRUE(HasDiskSpace(target, free - 1));
    EXPECT_TRUE(HasDiskSpace(target, free));
    EXPECT_FALSE(HasDiskSpace(target, free + 1));
  } else {
    // Other work may change free space a little between the two looks.
    constexpr std::int64_t Margin = 64 << 20;
    EXPECT_TRUE(HasDiskSpace(target, free > Margin ? free - Margin : 0));
    EXPECT_FALSE(HasDiskSpace(target, free + Margin));
  }
}

TEST_F(SmallDisk, ExistingFileNeedsNoLook) {
  const auto file = mountPoint / "setup.exe";
  { std::ofstream(file) << "x"; }
  EXPECT_TRUE(HasDiskSpace(file.string(), INT64_MAX));
  // A folder at the path is not a file that exists.
  EXPECT_FALSE(HasDiskSpace(mountPoint.string(), INT64_MAX));
}

} // namespace
} // namespace mirel
