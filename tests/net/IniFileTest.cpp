#include "net/IniFile.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>

namespace mirel {
namespace {

struct ValueCase {
  const char *name;
  std::string text;
  const char *section, *key;
  std::string expected; // "<default>" when the key is not found
};

TEST(IniFile, FindsValuesByTheRules) {
  const std::string longValue(3000, 'v');
  const std::array<ValueCase, 17> cases{{
      {"plain", "[Download]\nmirelS=http://h/s.exe\n", "Download", "mirelS", "http://h/s.exe"},
      {"names ignore case", "[DOWNLOAD]\nMIRELS=x\n", "download", "Mirels", "x"},
      {"blanks and CR LF", "  [ Download ]  \r\n  mirelS  =  a b  \r\n", "Download", "mirelS",
       "a b"},
      {"quotes", "[s]\nk=\"quoted\"\n", "s", "k", "quoted"},
      {"lone quote kept", "[s]\nk=\"half\n", "s", "k", "\"half"},
      {"empty value", "[s]\nk=\n", "s", "k", ""},
      {"value with =", "[s]\nk=a=b\n", "s", "k", "a=b"},
      {"other section", "[a]\nk=1\n[b]\nk=2\n", "b", "k", "2"},
      {"missing key", "[s]\nother=1\n", "s", "k", "<default>"},
      {"missing section", "[t]\nk=1\n", "s", "k", "<default>"},
      {"no sections", "k=1\nmirelS=x\n", "s", "k", "<default>"},
      {"first duplicate key", "[s]\nk=first\nk=second\n", "s", "k", "first"},
      {"first duplicate section", "[s]\na=1\n[t]\n[S]\nk=late\n", "s", "k", "<default>"},
      {"comment", "[s]\n;k=commented\nk=real\n", "s", "k", "real"},
      {"Korean bytes as they are", "[s]\nk=\xC7\xD1\xB1\xDB\n", "s", "k", "\xC7\xD1\xB1\xDB"},
      {"UTF-8 mark", "\xEF\xBB\xBF[s]\nk=1\n", "s", "k", "1"},
      {"cut at 2047", "[s]\nk=" + longValue + "\n", "s", "k", longValue.substr(0, 2047)},
  }};
  test::Sandbox sandbox;
  for (const auto &c : cases) {
    TIniFile ini(sandbox.write("Download.ini", c.text));
    EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected) << c.name;
  }
}

TEST(IniFile, IntegerForms) {
  struct Case {
    const char *text;
    int32_t value; // 10 is the default
  };
  static const std::array<Case, 17> cases{{
      {"25", 25},
      {"0x1E", 30},
      {"0X1e", 30},
      {"$1E", 30},
      {"-5", -5},
      {"+7", 7},
      {"abc", 10},
      {"", 10},
      {"12abc", 10},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", 10},
      {"0x", 10},
      {"$", 10},
      {"-0x10", -16},
      {"99999999999999999999", 10},
      {"1 2", 10},
  }};
  test::Sandbox sandbox;
  for (const auto &c : cases) {
    TIniFile ini(sandbox.write("Download.ini", std::string("[Connection]\nWaitTime=") + c.text));
    EXPECT_EQ(ini.ReadInteger("Connection", "WaitTime", 10), c.value) << c.text;
  }
}

TEST(IniFile, HostileFilesGiveDefaults) {
  test::Sandbox sandbox;
  // Binary noise with NUL bytes and no line ends.
  std::string noise(300000, '\0');
  for (size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<char>((i * 7919) % 256);
  TIniFile binary(sandbox.write("binary.ini", noise));
  EXPECT_EQ(binary.ReadInteger("Connection", "WaitTime", 10), 10);
  EXPECT_EQ(binary.ReadString("Download", "mirelS", "d"), "d");

  // 20 MB of one line before the real section: read, not kept in memory.
  {
    std::ofstream out(sandbox.file("huge.ini"), std::ios::binary);
    std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 20; ++i)
      out << chunk;
    out << "\n[Connection]\nWaitTime=42\n";
  }
  EXPECT_EQ(TIniFile(sandbox.file("huge.ini")).ReadInteger("Connection", "WaitTime", 10), 42);

  EXPECT_EQ(TIniFile(sandbox.file("absent.ini")).ReadString("s", "k", "d"), "d");
  EXPECT_EQ(TIniFile(sandbox.path().string()).ReadString("s", "k", "d"), "d"); // a folder
  EXPECT_EQ(TIniFile(sandbox.write("empty.ini", "")).ReadString("s", "k", "d"), "d");
}

} // namespace
} // namespace mirel
