#include "metainfo/Hashes.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace mirel;

namespace {

// Counts its releases, to prove each stored object is released exactly once.
struct Tracked : TObject {
  Tracked(int &released, int id) : Released(released), Id(id) {}
  ~Tracked() override { ++Released; }
  int &Released;
  int Id;
};

int IdOf(const TObjectHash &h, std::string_view key) {
  return dynamic_cast<const Tracked &>(*h.Get(key)).Id;
}

template <class E, class F> std::string MessageOf(F &&f) {
  try {
    f();
  } catch (const E &e) {
    return e.what();
  }
  return "(no exception)";
}

} // namespace

TEST(Hashes, KeyHashValues) {
  struct Case {
    std::string key;
    std::uint32_t hash;
    int bucket;
  };
  static const std::array<Case, 5> cases{{
      {"abc", 0x456767C3, 67},
      {"info", 0x567704DF, 95},
      {"announce", 0x85670695, 21},
      {"a", 0x23456761, 97},
      {std::string("\xff", 1), 0x234567FF, 127},
  }};
  for (const auto &c : cases) {
    EXPECT_EQ(KeyHash(c.key), c.hash) << c.key;
    EXPECT_EQ(static_cast<int>(KeyHash(c.key) & THash::BucketMask), c.bucket) << c.key;
  }
  EXPECT_EQ(THash::BucketCount, 128);
}

TEST(Hashes, EmptyKeyIsRefusedEverywhere) {
  TObjectHash h;
  int released = 0;
  const std::string msg = "Key cannot be an empty string";
  EXPECT_EQ(MessageOf<EHashInvalidKeyError>([&] { KeyHash(""); }), msg);
  EXPECT_EQ(MessageOf<EHashInvalidKeyError>([&] { h.Contains(""); }), msg);
  EXPECT_EQ(MessageOf<EHashInvalidKeyError>([&] { h.Get(""); }), msg);
  EXPECT_EQ(
      MessageOf<EHashInvalidKeyError>([&] { h.Put("", std::make_unique<Tracked>(released, 1)); }),
      msg);
  EXPECT_EQ(released, 1); // the refused object was not leaked
  EXPECT_TRUE(h.Items.empty());
  // Both are EHashError, and that is an Exception.
  EXPECT_THROW(h.Get(""), EHashError);
  EXPECT_THROW(h.Get("x"), Exception);
}

TEST(Hashes, GetOfAbsentKey) {
  TObjectHash h;
  EXPECT_EQ(MessageOf<EHashFindError>([&] { h.Get("foo"); }), "Key \"foo\" not found");
}

TEST(Hashes, PutReplacesAndReleases) {
  int released = 0;
  {
    TObjectHash h;
    h.Put("k", std::make_unique<Tracked>(released, 1));
    h.Put("K", std::make_unique<Tracked>(released, 2));
    h.Put("k", std::make_unique<Tracked>(released, 3));
    EXPECT_EQ(released, 1);
    EXPECT_EQ(IdOf(h, "k"), 3);
    EXPECT_EQ(IdOf(h, "K"), 2);
    EXPECT_EQ(h.Items.size(), 2u); // the replaced key kept its slot
  }
  EXPECT_EQ(released, 3);
}

TEST(Hashes, ManyKeysSameBucketAndSlotsInOrder) {
  int released = 0;
  TObjectHash h;
  // 2000 keys: many share buckets, so chains are long and ordered.
  for (int i = 0; i < 2000; ++i)
    h.Put("key" + std::to_string(i), std::make_unique<Tracked>(released, i));
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(IdOf(h, "key" + std::to_string(i)), i);
    ASSERT_EQ(dynamic_cast<Tracked &>(*h.Items[i]).Id, i); // n-th key in slot n-1
  }
  EXPECT_FALSE(h.Contains("key2000"));
  h.Clear();
  EXPECT_EQ(released, 2000);
  EXPECT_FALSE(h.Contains("key0"));
  h.Put("again", std::make_unique<Tracked>(released, 7));
  EXPECT_EQ(dynamic_cast<Tracked &>(*h.Items.at(0)).Id, 7); // numbering restarts at 0
  EXPECT_EQ(IdOf(h, "again"), 7);
}

TEST(Hashes, RaisingCallLeavesTableUnchanged) {
  int released = 0;
  TObjectHash h;
  h.Put("a", std::make_unique<Tracked>(released, 1));
  EXPECT_THROW(h.Get("b"), EHashFindError);
  EXPECT_THROW(h.Put("", std::make_unique<Tracked>(released, 2)), EHashInvalidKeyError);
  EXPECT_EQ(IdOf(h, "a"), 1);
  EXPECT_EQ(h.Items.size(), 1u);
}
