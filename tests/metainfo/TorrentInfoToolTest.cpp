#include "TorrentInfo.h"

#include "Bencode.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

using namespace mirel;
using namespace mirel::test::bencode;

namespace {

struct ShellRun {
  int exitCode;
  std::string out;
};

// Runs a shell command line, returning its exit code and standard output.
ShellRun Shell(const std::string &command) {
  ShellRun r{-1, {}};
  FILE *p = ::popen(command.c_str(), "r");
  if (!p)
    return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    r.out.append(buf, n);
  const int status = ::pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

const std::string Tool = std::string(MIREL_BINARY_DIR) + "/tools/mirel-torrent-info";

} // namespace

TEST(TorrentInfoTool, JsonStringEscapes) {
  struct Case {
    std::string bytes;
    std::string json;
  };
  static const std::array<Case, 11> cases{{
      {"plain", "\"plain\""},
      {"a\"b\\c/", "\"a\\\"b\\\\c/\""},
      {std::string("\n\t\r\x01\x1f\x7f", 6), "\"\\n\\t\\r\\u0001\\u001f\x7f\""},
      {std::string("\0", 1), "\"\\u0000\""},
      {"설치.exe", "\"설치.exe\""}, // valid UTF-8 stays
      // CP949 for 설치: the second pair happens to be valid UTF-8 (U+0121)
      {"\xbc\xb3\xc4\xa1", "\"\\udcbc\\udcb3\xc4\xa1\""},
      {"\xc0\x80", "\"\\udcc0\\udc80\""},                       // overlong NUL
      {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},            // encoded surrogate
      {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""}, // past U+10FFFF
      {"\xe2\x82", "\"\\udce2\\udc82\""},                       // cut-off sequence
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},             // 4-byte sequence
  }};
  for (const auto &c : cases)
    EXPECT_EQ(JsonString(c.bytes), c.json) << c.bytes;
}

TEST(TorrentInfoTool, ExitCodesAndJsonThatRoundTrips) {
  test::Sandbox box;
  const std::string cp949Name = "\xbc\xb3\xc4\xa1.exe"; // not UTF-8
  const std::string good = box.write(
      "good.torrent",
      D({{"announce", S("http://t/a")},
         {"creation date", I(86400)},
         {"info",
          D({{"name", S("dir")},
             {"piece length", I(16384)},
             {"pieces", S(std::string(20, 'x'))},
             {"files", L({D({{"length", I(3)}, {"path", L({S("sub"), S(cp949Name)})}})})}})}}));
  const std::string bad = box.write("bad.torrent", "li1ee");
  const std::string missing = box.file("missing.torrent");

  struct Case {
    std::string args;
    int exitCode;
  };
  const std::array<Case, 6> cases{{
      {"--json " + good, 0},
      {good, 0},
      {"--json " + good + " " + bad, 1},
      {good + " " + missing, 2},
      {"", 2},
      {"--bogus " + good, 2},
  }};
  for (const auto &c : cases)
    EXPECT_EQ(Shell(Tool + " " + c.args + " 2>/dev/null").exitCode, c.exitCode) << c.args;

  // Python reads the line back; the file name's bytes come back exactly.
  const std::string check =
      "import sys, json\n"
      "for line in sys.stdin:\n"
      "    o = json.loads(line)\n"
      "    f = o['files'][0] if o['files'] else None\n"
      "    print(o['ok'], o['name'], o['total_length'], o['piece_count'], o['creation_date'],\n"
      "          o['announce'], len(o['info_hash']), len(o['errors']),\n"
      "          f and f['path'], f and f['name'].encode('utf-8', 'surrogateescape').hex(),\n"
      "          f and f['length'], f and f['start'])\n";
  const std::string script = box.write("check.py", check);
  const ShellRun r = Shell(Tool + " --json " + good + " " + bad + " | python3 " + script);
  EXPECT_EQ(r.out, "True dir 3 1 86400 http://t/a 40 0 sub\\ bcb3c4a12e657865 3 0\n"
                   "False  0 0 None  0 1 None None None None\n");
}
