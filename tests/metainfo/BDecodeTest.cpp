#include "metainfo/BDecode.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace mirel;

namespace {

// Compact text of a decoded tree: i42, 'spam', [..], {n} (n entries).
std::string Describe(const TObject *node) {
  if (!node)
    return "null";
  if (auto *s = dynamic_cast<const TIntString *>(node))
    return s->IsInteger ? "i" + std::to_string(s->IntegerValue) : "'" + s->StringValue + "'";
  if (auto *l = dynamic_cast<const TObjectList *>(node)) {
    std::string out = "[";
    for (const auto &item : l->Items)
      out += (out.size() > 1 ? "," : "") + Describe(item.get());
    return out + "]";
  }
  if (auto *d = dynamic_cast<const TObjectHash *>(node))
    return "{" + std::to_string(d->Items.size()) + "}";
  return "?";
}

struct DecodeCase {
  std::string input;
  std::string expected;
  std::int64_t endPosition;
};

const TIntString &StringAt(const TObjectHash &d, std::string_view key) {
  return dynamic_cast<const TIntString &>(*d.Get(key));
}

} // namespace

TEST(BDecode, ValuesAndConsumedBytes) {
  static const std::array<DecodeCase, 30> cases{{
      {"i42e", "i42", 4},
      {"i-42e", "i-42", 5},
      {"i4-2e", "i-42", 5},
      {"ie", "i0", 2},
      {"i0042e", "i42", 6},
      {"i12", "i12", 3},
      {"i--5e", "i-5", 5},
      {"i9223372036854775807e", "i9223372036854775807", 21},
      {"i18446744073709551617e", "i1", 22}, // wraps modulo 2^64
      {"4:spam", "'spam'", 6},
      {"0:", "''", 2},
      {"4xspam", "'spam'", 6},
      {"-1:a", "null", 1},
      {"x", "null", 1},
      {"", "null", 0},
      {std::string("3:a\0b", 5), std::string("'a\0b'", 5), 5},
      {"5:ab", "'ab'", 4}, // cut short: holds what the data had
      {"le", "[]", 2},
      {"l", "[]", 1},
      {"li1exi2ee", "[i1,i2]", 9},
      {"li1e", "[i1]", 4},
      {"ll1:aee", "[['a']]", 7},
      {"ld1:ai1exi5ee", "[i5]", 13}, // the rejected dictionary is dropped
      {"de", "{0}", 2},
      {"d3:cow3:mooe", "{1}", 12},
      {"d3:cowi1ei2ee", "null", 10},
      {"d3:cowi1e", "{1}", 9},
      {"d1:ai1e1:ai2ee", "{1}", 14},
      {"d0:i1ee", "{0}", 7},
      {"d", "null", 1},
  }};
  for (const auto &c : cases) {
    TMemoryStream s(c.input);
    const auto value = DecodeValue(s);
    EXPECT_EQ(Describe(value.get()), c.expected) << "input: " << c.input;
    EXPECT_EQ(s.Position(), c.endPosition) << "input: " << c.input;
  }
}

TEST(BDecode, DictionaryContents) {
  {
    TMemoryStream s(std::string("3:cow3:mooe")); // the 'd' already consumed
    auto d = DecodeDictionary(s);
    ASSERT_TRUE(d);
    EXPECT_EQ(StringAt(*d, "cow").StringValue, "moo");
  }
  {
    TMemoryStream s(std::string("d1:ai1e1:ai2ee"));
    auto v = DecodeValue(s);
    auto &d = dynamic_cast<TObjectHash &>(*v);
    EXPECT_EQ(StringAt(d, "a").IntegerValue, 2);
    EXPECT_TRUE(StringAt(d, "a").IsInteger);
  }
  {
    TMemoryStream s(std::string("d3:cowi1e"));
    auto v = DecodeValue(s);
    EXPECT_EQ(StringAt(dynamic_cast<TObjectHash &>(*v), "cow").IntegerValue, 1);
  }
  {
    // The value of a is a rejected dictionary: dropped, and c still read.
    TMemoryStream s(std::string("d1:ad1:bi1ex1:ci2ee"));
    auto v = DecodeValue(s);
    auto &d = dynamic_cast<TObjectHash &>(*v);
    EXPECT_FALSE(d.Contains("a"));
    EXPECT_EQ(StringAt(d, "c").IntegerValue, 2);
  }
  {
    // Keys are byte strings: NUL and high bytes are kept, case matters.
    TMemoryStream s(std::string("d2:\0\xff"
                                "i1e1:Ai2e1:ai3ee",
                                21));
    auto v = DecodeValue(s);
    auto &d = dynamic_cast<TObjectHash &>(*v);
    EXPECT_EQ(StringAt(d, std::string("\0\xff", 2)).IntegerValue, 1);
    EXPECT_EQ(StringAt(d, "A").IntegerValue, 2);
    EXPECT_EQ(StringAt(d, "a").IntegerValue, 3);
  }
}

TEST(BDecode, InfoPositionEntries) {
  struct Case {
    std::string input;
    std::int64_t start, length;
  };
  static const std::array<Case, 3> cases{{
      {"d4:infod1:xi1eee", 7, 8},
      {"d1:ai1e4:infoli1ei2eee", 13, 8},
      // Earlier entries of the same names are replaced.
      {"d11:_info_starti99e4:info0:e", 25, 2},
  }};
  for (const auto &c : cases) {
    TMemoryStream s(c.input);
    auto v = DecodeValue(s);
    auto &d = dynamic_cast<TObjectHash &>(*v);
    EXPECT_TRUE(d.Contains("info")) << c.input;
    const auto &start = StringAt(d, "_info_start");
    const auto &length = StringAt(d, "_info_length");
    EXPECT_EQ(start.IntegerValue, c.start) << c.input;
    EXPECT_EQ(length.IntegerValue, c.length) << c.input;
    EXPECT_FALSE(start.IsInteger);
    EXPECT_TRUE(start.StringValue.empty());
  }
  // A rejected info value still records its range, but "info" is absent.
  TMemoryStream s(std::string("d4:infoxe"));
  auto v = DecodeValue(s);
  auto &d = dynamic_cast<TObjectHash &>(*v);
  EXPECT_FALSE(d.Contains("info"));
  EXPECT_EQ(StringAt(d, "_info_length").IntegerValue, 1);
}

TEST(BDecode, DepthIsBounded) {
  // Exactly the bound decodes fully; one more level drops the innermost list.
  for (int depth : {MaxDecodeDepth, MaxDecodeDepth + 1}) {
    TMemoryStream s(std::string(depth, 'l') + std::string(depth, 'e'));
    auto v = DecodeValue(s);
    int levels = 0;
    const TObject *node = v.get();
    while (auto *l = dynamic_cast<const TObjectList *>(node)) {
      ++levels;
      node = l->Items.empty() ? nullptr : l->Items.front().get();
    }
    EXPECT_EQ(levels, MaxDecodeDepth) << depth;
  }
  // A million nested lists neither overflow the stack nor take long.
  for (char open : {'l', 'd'}) {
    std::string deep(1000000, open);
    TMemoryStream s(deep);
    DecodeValue(s);
    EXPECT_EQ(s.Position(), open == 'l' ? 1000000 : 2);
  }
  std::string mixed;
  for (int i = 0; i < 200000; ++i)
    mixed += "d1:al";
  TMemoryStream s(mixed);
  EXPECT_TRUE(DecodeValue(s));
}

TEST(BDecode, HugeDeclaredLengthsAllocateOnlyWhatIsThere) {
  static const std::array<const char *, 5> inputs{
      "2147483647:abc",
      "2147483648:abc",
      "9223372036854775807:abc",
      "9223372036854775808:abc",
      "99999999999999999999999999999999999999:abc",
  };
  for (const char *input : inputs) {
    TMemoryStream s{std::string(input)};
    auto v = DecodeValue(s);
    auto &str = dynamic_cast<TIntString &>(*v);
    EXPECT_EQ(str.StringValue, "abc") << input;
    EXPECT_LT(str.StringValue.capacity(), 1u << 21) << input;
    EXPECT_EQ(s.Position(), static_cast<std::int64_t>(std::string(input).size()));
  }
  // The same as a dictionary key.
  TMemoryStream s{std::string("d9223372036854775807:ke")};
  auto v = DecodeValue(s);
  EXPECT_TRUE(v);
}

TEST(BDecode, BytesToHex) {
  struct Case {
    std::string bytes;
    std::size_t maxCount;
    const char *hex;
  };
  static const std::array<Case, 5> cases{{
      {"", 999, ""},
      {std::string("\x00\x01\xab\xff", 4), 999, "0001abff"},
      {std::string("\x00\x01\xab\xff", 4), 2, "0001"},
      {"abc", 0, ""},
      {"\x12\x34", 2, "1234"},
  }};
  for (const auto &c : cases)
    EXPECT_EQ(BytesToHex(c.bytes, c.maxCount), c.hex);
}
