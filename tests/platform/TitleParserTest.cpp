#include "platform/TitleParser.h"

#include <array>
#include <gtest/gtest.h>

namespace mirel {
namespace {

TEST(TitleParser, TitleSequences) {
  struct Case {
    const char *what;
    std::string stream;
    const char *title;
  };
  const std::array<Case, 10> cases{{
      {"OSC 0 with BEL", "\x1b]0;hello\a", "hello"},
      {"OSC 2 with ST", "\x1b]2;hello\x1b\\", "hello"},
      {"icon name only", "\x1b]1;icon\a", "start"},
      {"last one wins", "\x1b]0;one\atext\x1b]0;two\a", "two"},
      {"text around", "line\r\n\x1b[1mbold\x1b]0;t\a more", "t"},
      {"empty title", "\x1b]0;\a", ""},
      {"unterminated", "\x1b]0;never ends", "start"},
      {"cancelled", "\x1b]0;abc\x18\x1b]0;ok\a", "ok"},
      {"other OSC ignored", "\x1b]52;c;Zm9v\a", "start"},
      {"UTF-8 kept", "\x1b]0;\xea\xb0\x80 ok\a", "\xea\xb0\x80 ok"},
  }};
  for (const auto &c : cases) {
    TitleParser parser("start");
    parser.feed(c.stream);
    EXPECT_EQ(parser.title(), c.title) << c.what;
  }
}

TEST(TitleParser, SequenceSplitAnywhere) {
  const std::string stream = "abc\x1b]0;" + std::string(300, 'x') + "\x1b\\def";
  for (std::size_t split = 0; split <= stream.size(); ++split) {
    TitleParser parser("start");
    parser.feed(stream.substr(0, split));
    parser.feed(stream.substr(split));
    ASSERT_EQ(parser.title(), std::string(300, 'x')) << "split at " << split;
  }
}

TEST(TitleParser, HugeTitleIsKeptCut) {
  TitleParser parser;
  parser.feed("\x1b]0;" + std::string(TitleParser::MaxTitle * 3, 'y') + "\a");
  EXPECT_EQ(parser.title(), std::string(TitleParser::MaxTitle, 'y'));
}

} // namespace
} // namespace mirel
