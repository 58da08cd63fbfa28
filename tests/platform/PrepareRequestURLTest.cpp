#include "platform/URLDownloadToFile.h"

#include <gtest/gtest.h>

#include <array>

namespace mirel {
namespace {

struct Case {
  const char *url;
  const char *request; // "" when refused
};

TEST(PrepareRequestURL, DecodesUnreservedEscapesInHostAndPathOnly) {
  static const std::array<Case, 20> cases{{
      {"http://127.0.0.1:8080/a.bin", "http://127.0.0.1:8080/a.bin"},
      {"http://127%2E0%2E0%2E1:8080/a.bin", "http://127.0.0.1:8080/a.bin"},
      {"http://www%2Eexample%2ecom/mirelS%2Esetup%2Eexe%2Etorrent",
       "http://www.example.com/mirelS.setup.exe.torrent"},
      {"http://h/a%2Db%5Fc%7E%41", "http://h/a-b_c~A"},
      // Reserved characters keep their escapes: decoding would change meaning.
      {"http://h/a%2Fb%28c%29%3F", "http://h/a%2Fb%28c%29%3F"},
      {"http://h/p?x%3D1%2E", "http://h/p?x%3D1%2E"},
      {"HTTPS://h/x", "https://h/x"},
      {"http://h/with space", "http://h/with%20space"},
      {"http://h/\xC7\xD1\xB1\xDB.exe", "http://h/%C7%D1%B1%DB.exe"},
      {"http://h/x#fragment", "http://h/x"},
      // Backslashes go to the server as they are.
      {"http://h/a\\b\\c.exe", "http://h/a\\b\\c.exe"},
      {"http://h/%2", "http://h/%2"},
      {"", ""},
      {"http://", ""},
      {"file:///etc/passwd", ""},
      {"ftp://h/x", ""},
      {"javascript:alert(1)", ""},
      {"h/x", ""},
      {"http://h/a\nb", ""},
      {"://h/x", ""},
  }};
  for (const auto &c : cases)
    EXPECT_EQ(PrepareRequestURL(c.url), c.request) << "URL: " << c.url;
}

} // namespace
} // namespace mirel
