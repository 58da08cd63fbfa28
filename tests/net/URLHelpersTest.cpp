#include "net/URLHelpers.h"

#include <gtest/gtest.h>

#include <array>

namespace mirel {
namespace {

TEST(EscapeURL, EscapesExactlyTheNineteenCharacters) {
  struct Case {
    std::string in, out;
  };
  static const std::array<Case, 9> cases{{
      {"mirelS.setup.exe.torrent", "mirelS%2Esetup%2Eexe%2Etorrent"},
      {"a-b_c(1)!~", "a%2Db%5Fc%281%29%21~"},
      {"{}^[]'#;@=&$-_.+!()", "%7B%7D%5E%5B%5D%27%23%3B%40%3D%26%24%2D%5F%2E%2B%21%28%29"},
      {"http://www.example.com:80/a/b?x=1", "http://www%2Eexample%2Ecom:80/a/b?x%3D1"},
      // Never changed: letters, digits, blanks, % : / ? ~ * , " < > \ | ` and
      // control bytes and bytes from 0x80 up (Korean text).
      {"AZaz09 %:/?~*,\"<>\\|`\t\x01\x7F", "AZaz09 %:/?~*,\"<>\\|`\t\x01\x7F"},
      {"\xC7\xD1\xB1\xDB.exe", "\xC7\xD1\xB1\xDB%2Eexe"},
      {"%2E", "%2E"},
      {"", ""},
      {std::string("a\0.b", 4), std::string("a\0%2Eb", 6)},
  }};
  for (const auto &c : cases) {
    EXPECT_EQ(EscapeURL(c.in), c.out) << c.in;
    EXPECT_EQ(EscapeURL(EscapeURL(c.in)), c.out) << "escaping twice: " << c.in;
  }
}

TEST(PurgeURLCache, ThereIsNeverAnEntryToRemove) {
  for (const char *url : {"", "http://h/x", "http:\\\\h\\x"})
    EXPECT_FALSE(PurgeURLCache(url)) << url;
}

} // namespace
} // namespace mirel
