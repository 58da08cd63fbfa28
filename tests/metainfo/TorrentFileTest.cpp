#include "metainfo/TorrentFile.h"
#include "metainfo/BDecode.h"

#include "Bencode.h"
#include "sandbox.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <array>
#include <string>
#include <vector>

using namespace mirel;
using namespace mirel::test::bencode;

namespace {

const std::string Hashes40 = std::string(20, 'A') + std::string(20, 'B');

std::string Sha1(const std::string &bytes) {
  unsigned char md[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), md);
  return std::string(reinterpret_cast<char *>(md), sizeof md);
}

bool Load(TTorrentFile &t, const std::string &bytes) {
  TMemoryStream s(bytes);
  return t.LoadFromStream(s);
}

const char *Announce = "Corrupt File: Missing \"announce\" segment";
const char *Info = "Corrupt File: Missing \"info\" segment";
const char *Parse = "Error parsing file; does not appear to be valid bencoded metainfo";
const char *CatchAll =
    "Something bad happened while trying to load the file, probably corrupt metainfo";

} // namespace

TEST(TorrentFile, CompleteSingleFile) {
  const std::string info = D({{"name", S("setup.exe")},
                              {"piece length", I(16384)},
                              {"pieces", S(Hashes40)},
                              {"length", I(20000)}});
  const std::string bytes =
      D({{"announce", S("http://t.example/announce")},
         {"announce-list", L({L({S("http://a/1"), S("http://a/2")}), L({}), L({S("udp://b")})})},
         {"comment", S("hello")},
         {"creation date", I(1700000000)},
         {"info", info}});
  TTorrentFile t;
  ASSERT_TRUE(Load(t, bytes));
  EXPECT_TRUE(t.Errors.empty());
  EXPECT_EQ(t.Announce, "http://t.example/announce");
  EXPECT_EQ(t.AnnounceList, (std::vector<std::string>{"http://a/1", "http://a/2", "udp://b"}));
  EXPECT_EQ(t.Comment, "hello");
  EXPECT_DOUBLE_EQ(t.CreationDate, 25569.0 + 1700000000 / 86400.0);
  EXPECT_EQ(t.Name, "setup.exe");
  EXPECT_EQ(t.PieceLength, 16384);
  EXPECT_EQ(t.TotalLength, 20000);
  EXPECT_EQ(t.FileCount, 1);
  EXPECT_FALSE(t.IsMultiFile);
  ASSERT_EQ(t.Files.size(), 1u);
  EXPECT_EQ(t.Files[0]->Name, "setup.exe");
  EXPECT_EQ(t.Files[0]->Path, "");
  EXPECT_EQ(t.Files[0]->Length, 20000);
  EXPECT_EQ(t.Files[0]->Start, 0);
  ASSERT_EQ(t.Pieces.size(), 2u);
  EXPECT_EQ(t.Pieces[1].Hash, std::string(20, 'B'));
  EXPECT_EQ(t.Pieces[1].HashHex, BytesToHex(std::string(20, 'B'), 999));
  EXPECT_EQ(t.InfoHash, Sha1(info));
  EXPECT_EQ(t.InfoHashHex, BytesToHex(Sha1(info), 99));
  EXPECT_TRUE(t.Root->Contains("_info_start"));
}

TEST(TorrentFile, NameTrimming) {
  struct Case {
    const char *name, *expected;
  };
  static const std::array<Case, 5> cases{{
      {"setup.exe.torrent", "setup.exe"},
      {"setup.exe.TORRENT", "setup.exe.TORRENT"},
      {".torrent", ""},
      {"a.torrent.torrent", "a.torrent"},
      {"torrent", "torrent"},
  }};
  for (const auto &c : cases) {
    TTorrentFile t;
    ASSERT_TRUE(Load(t, D({{"announce", S("u")},
                           {"info", D({{"name", S(c.name)},
                                       {"piece length", I(1)},
                                       {"pieces", S("")},
                                       {"length", I(1)}})}})));
    EXPECT_EQ(t.Name, c.expected);
    EXPECT_EQ(t.Files.at(0)->Name, c.expected);
  }
}

TEST(TorrentFile, ProblemsAndTheirMessages) {
  struct Case {
    const char *what;
    std::string bytes;
    bool ok;
    std::vector<std::string> errors;
  };
  const std::string good = D({{"name", S("n")}, {"piece length", I(1)}, {"pieces", S("")}});
  const std::array<Case, 16> cases{{
      {"no announce",
       D({{"info",
           D({{"name", S("n")}, {"piece length", I(1)}, {"pieces", S("")}, {"length", I(3)}})}}),
       true,
       {Announce}},
      {"no info", D({{"announce", S("u")}}), true, {Info}},
      {"empty info",
       D({{"announce", S("u")}, {"info", "de"}}),
       true,
       {"Corrupt File: Missing \"info.name\" segment",
        "Corrupt File: Missing \"info.piece length\" segment",
        "Corrupt File: Missing \"info.pieces\" segment",
        "Corrupt File: Missing both \"info.length\" and \"info.files\" segments (should have one "
        "or the other)"}},
      {"file entries lacking parts",
       D({{"announce", S("u")},
          {"info", D({{"name", S("n")},
                      {"piece length", I(1)},
                      {"pieces", S("")},
                      {"files", L({D({{"path", L({S("a")})}}), D({{"length", I(1)}}), "de"})}})}}),
       true,
       {"Corrupt File: files[0] is missing a \"length\" segment",
        "Corrupt File: files[1] is missing a \"path\" segment",
        "Corrupt File: files[2] is missing a \"length\" segment",
        "Corrupt File: files[2] is missing a \"path\" segment"}},
      {"not bencode", "x", false, {Parse}},
      {"empty file", "", false, {Parse}},
      {"root is a list", "li1ee", false, {CatchAll}},
      {"root is an integer", "i1e", false, {CatchAll}},
      {"root is a string", "3:abc", false, {CatchAll}},
      {"announce-list of strings",
       D({{"announce", S("u")}, {"announce-list", L({S("x")})}}),
       false,
       {CatchAll}},
      {"info is a string", D({{"announce", S("u")}, {"info", S("x")}}), false, {CatchAll}},
      {"files entry not a dictionary",
       D({{"announce", S("u")},
          {"info", D({{"name", S("n")},
                      {"piece length", I(1)},
                      {"pieces", S("")},
                      {"files", L({I(1)})}})}}),
       false,
       {CatchAll}},
      {"length is a list",
       D({{"info", D({{"length", L({})}})}}),
       false,
       {Announce, "Corrupt File: Missing \"info.name\" segment",
        "Corrupt File: Missing \"info.piece length\" segment",
        "Corrupt File: Missing \"info.pieces\" segment", CatchAll}},
      {"lengths overflow",
       D({{"announce", S("u")},
          {"info", D({{"name", S("n")},
                      {"piece length", I(1)},
                      {"pieces", S("")},
                      {"files", L({D({{"length", I(INT64_MAX)}, {"path", L({S("a")})}}),
                                   D({{"length", I(1)}, {"path", L({S("b")})}})})}})}}),
       false,
       {CatchAll}},
      {"crafted negative info start",
       D({{"announce", S("u")}, {"info", good}, {"_info_start", I(-5)}}),
       false,
       {"Corrupt File: Missing both \"info.length\" and \"info.files\" segments (should have "
        "one or the other)",
        CatchAll}},
      {"crafted info length of the wrong class",
       D({{"announce", S("u")}, {"info", good}, {"_info_length", L({})}}),
       false,
       {"Corrupt File: Missing both \"info.length\" and \"info.files\" segments (should have "
        "one or the other)",
        CatchAll}},
  }};
  for (const auto &c : cases) {
    TTorrentFile t;
    EXPECT_EQ(Load(t, c.bytes), c.ok) << c.what;
    EXPECT_EQ(t.Errors, c.errors) << c.what;
    if (c.errors.back() == Info) {
      EXPECT_EQ(t.TotalLength, 0);
      EXPECT_EQ(t.InfoHashHex, "");
      EXPECT_EQ(t.FileCount, 0);
    }
  }
}

TEST(TorrentFile, CraftedInfoLengthReadsOnlyWhatIsThere) {
  const std::string info =
      D({{"name", S("n")}, {"piece length", I(1)}, {"pieces", S("")}, {"length", I(0)}});
  const std::string bytes = "d8:announce1:u4:info" + info + "12:_info_lengthi9223372036854775807ee";
  TTorrentFile t;
  ASSERT_TRUE(Load(t, bytes));
  // Hashes from the info value to the end of the data.
  EXPECT_EQ(t.InfoHash, Sha1(bytes.substr(20)));
}

TEST(TorrentFile, MultiFileLayout) {
  const std::string bytes =
      D({{"announce", S("u")},
         {"info",
          D({{"name", S("folder")},
             {"piece length", I(4)},
             {"pieces", S(Hashes40 + "x")},
             {"files", L({D({{"length", I(5)}, {"path", L({S("a"), S("b.txt")})}}),
                          D({{"length", I(7)}, {"path", L({S("c.txt")})}}),
                          D({{"length", I(0)}, {"path", L({})}}),
                          D({{"length", I(1)}, {"path", L({S("x"), S("y"), S("z")})}})})}})}});
  TTorrentFile t;
  ASSERT_TRUE(Load(t, bytes));
  EXPECT_TRUE(t.Errors.empty());
  EXPECT_TRUE(t.IsMultiFile);
  EXPECT_EQ(t.TotalLength, 13);
  EXPECT_EQ(t.FileCount, 4);
  EXPECT_EQ(t.Pieces.size(), 2u); // the 41st byte is ignored
  struct Want {
    const char *name, *path;
    std::int64_t length, start;
  };
  static const std::array<Want, 4> want{
      {{"b.txt", "a\\", 5, 0}, {"c.txt", "", 7, 5}, {"", "", 0, 12}, {"z", "x\\y\\", 1, 12}}};
  ASSERT_EQ(t.Files.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(t.Files[i]->Name, want[i].name) << i;
    EXPECT_EQ(t.Files[i]->Path, want[i].path) << i;
    EXPECT_EQ(t.Files[i]->Length, want[i].length) << i;
    EXPECT_EQ(t.Files[i]->Start, want[i].start) << i;
  }
}

TEST(TorrentFile, ValuesOfTheOtherScalarKind) {
  // An integer where text is expected gives empty text; text where a number
  // is expected gives 0; neither adds a message. "length" wins over "files".
  TTorrentFile t;
  ASSERT_TRUE(Load(t, D({{"announce", I(5)},
                         {"info", D({{"name", S("n")},
                                     {"piece length", S("16384")},
                                     {"pieces", I(3)},
                                     {"length", I(9)},
                                     {"files", S("x")}})}})));
  EXPECT_TRUE(t.Errors.empty());
  EXPECT_EQ(t.Announce, "");
  EXPECT_EQ(t.PieceLength, 0);
  EXPECT_TRUE(t.Pieces.empty());
  EXPECT_EQ(t.TotalLength, 9);
  EXPECT_FALSE(t.IsMultiFile);
}

TEST(TorrentFile, CreationDates) {
  struct Case {
    std::int64_t value;
    double expected;
  };
  static const std::array<Case, 5> cases{{
      {0, 25569.0},
      {86400, 25570.0},
      {43200, 25569.5},
      {4294967296 + 86400, 25570.0}, // only the low 32 bits count
      {-86400, 25568.0},
  }};
  for (const auto &c : cases) {
    TTorrentFile t;
    ASSERT_TRUE(Load(t, D({{"announce", S("u")}, {"creation date", I(c.value)}})));
    EXPECT_DOUBLE_EQ(t.CreationDate, c.expected) << c.value;
  }
  EXPECT_NEAR(EpochSecondsToDateTime(-1), 25569.0 - 1.0 / 86400, 1e-9);
  // 2038-01-19 03:14:07 and 1901-12-13 20:45:52
  EXPECT_NEAR(EpochSecondsToDateTime(INT32_MAX), 50424.0 + (3 * 3600 + 14 * 60 + 7) / 86400.0,
              1e-9);
  EXPECT_NEAR(EpochSecondsToDateTime(INT32_MIN), 713.0 + (20 * 3600 + 45 * 60 + 52) / 86400.0,
              1e-9);
}

TEST(TorrentFile, InfoHashOfUnsortedKeysAndStreamPosition) {
  const std::string info =
      D({{"pieces", S(Hashes40)}, {"name", S("z")}, {"length", I(1)}, {"piece length", I(2)}});
  const std::string top = D({{"info", info}, {"announce", S("u")}});
  TTorrentFile t;
  TMemoryStream s(top + "trailing bytes");
  ASSERT_TRUE(t.LoadFromStream(s));
  EXPECT_EQ(t.InfoHash, Sha1(info));
  EXPECT_EQ(s.Position(), static_cast<std::int64_t>(top.size()));
}

TEST(TorrentFile, SecondLoadLeavesNoTrace) {
  TTorrentFile t;
  ASSERT_TRUE(Load(t, D({{"announce", S("u")},
                         {"announce-list", L({L({S("v")})})},
                         {"comment", S("c")},
                         {"creation date", I(5)},
                         {"info", D({{"name", S("n")},
                                     {"piece length", I(7)},
                                     {"pieces", S(Hashes40)},
                                     {"length", I(3)}})}})));
  ASSERT_TRUE(Load(t, D({{"announce", S("w")}})));
  EXPECT_EQ(t.Announce, "w");
  EXPECT_TRUE(t.AnnounceList.empty());
  EXPECT_EQ(t.Comment, "");
  EXPECT_EQ(t.CreationDate, 0);
  EXPECT_EQ(t.PieceLength, 0);
  EXPECT_EQ(t.InfoHashHex, "");
  EXPECT_EQ(t.InfoHash, "");
  EXPECT_TRUE(t.Pieces.empty());
  EXPECT_TRUE(t.Files.empty());
  EXPECT_EQ(t.Name, "");
  EXPECT_EQ(t.Errors, std::vector<std::string>{Info});
  EXPECT_FALSE(t.Root->Contains("info"));
}

TEST(TorrentFile, FileStreamAndMemoryStreamAgree) {
  const std::string path = std::string(MIREL_TESTDATA_DIR) + "/torrents/base.torrent";
  TFileStream f(path);
  TTorrentFile a, b;
  ASSERT_TRUE(a.LoadFromStream(f));
  ASSERT_TRUE(Load(b, test::readFile(path)));
  EXPECT_EQ(a.InfoHashHex, b.InfoHashHex);
  EXPECT_EQ(a.InfoHashHex.size(), 40u);
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(f.Position(), f.Size());
}
