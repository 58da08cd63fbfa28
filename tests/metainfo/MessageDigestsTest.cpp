#include "metainfo/MessageDigests.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <array>
#include <string>

using namespace mirel;

namespace {

std::string Sha1Hex(const std::string &message) {
  TSHA1 sha;
  sha.UpdateText(message);
  sha.Finish();
  return sha.DigestHex();
}

std::string OpenSslHex(const std::string &message) {
  unsigned char md[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char *>(message.data()), message.size(), md);
  static const char *digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : md) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

// Every test runs once on the portable compression and once on the SHA
// instructions (skipped where the processor lacks them).
class Sha1 : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    if (GetParam() && !detail::Sha1HardwareAvailable())
      GTEST_SKIP() << "no SHA instructions on this processor";
    detail::SetSha1HardwareAllowed(GetParam());
    ASSERT_EQ(detail::Sha1HardwareInUse(), GetParam());
  }
  void TearDown() override { detail::SetSha1HardwareAllowed(true); }
};

std::string Message(std::size_t length) {
  std::string m(length, '\0');
  for (std::size_t i = 0; i < length; ++i)
    m[i] = static_cast<char>(i * 7 + 3);
  return m;
}

} // namespace

TEST_P(Sha1, Fips180Vectors) {
  struct Case {
    std::string message;
    const char *digest;
  };
  static const std::array<Case, 4> cases{{
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
  }};
  for (const auto &c : cases)
    EXPECT_EQ(Sha1Hex(c.message), c.digest) << c.message.size();
}

TEST_P(Sha1, BlockEdgesInEveryChunking) {
  // Around the 55/56-byte padding edge and the 64-byte block edge, in one and
  // in two blocks, fed in pieces of every size.
  for (std::size_t length :
       {0, 1, 54, 55, 56, 57, 63, 64, 65, 118, 119, 120, 121, 127, 128, 129, 183, 184, 192}) {
    const std::string m = Message(length);
    const std::string expected = OpenSslHex(m);
    ASSERT_EQ(Sha1Hex(m), expected) << length;
    for (std::size_t chunk = 1; chunk <= length; ++chunk) {
      TSHA1 sha;
      for (std::size_t at = 0; at < length; at += chunk)
        sha.Update(m.data() + at, std::min(chunk, length - at));
      sha.Finish();
      ASSERT_EQ(sha.DigestHex(), expected) << length << " in pieces of " << chunk;
    }
    for (std::size_t split = 0; split <= length; ++split) {
      TSHA1 sha;
      sha.Update(m.data(), split);
      sha.Update(nullptr, 0);
      sha.Update(m.data() + split, length - split);
      sha.Finish();
      ASSERT_EQ(sha.DigestHex(), expected) << length << " split at " << split;
    }
  }
}

TEST_P(Sha1, LongMessagesAgreeWithOpenSsl) {
  const std::string m = Message(1 << 20);
  for (std::size_t length : {4096u, 65536u + 17u, 1u << 20})
    EXPECT_EQ(Sha1Hex(m.substr(0, length)), OpenSslHex(m.substr(0, length))) << length;
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha1, ::testing::Values(false, true),
                         [](const auto &p) { return p.param ? "Hardware" : "Portable"; });

TEST(Sha1Digest, ResetStartsAFreshMessage) {
  TSHA1 sha;
  sha.UpdateText("some earlier message that spans more than a block of sixty-four bytes....");
  sha.Reset();
  sha.UpdateText("abc");
  sha.Finish();
  EXPECT_EQ(sha.DigestHex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
  // Reset after completion, and from a half-filled buffer.
  sha.Reset();
  sha.UpdateText("ab");
  sha.Reset();
  sha.Finish();
  EXPECT_EQ(sha.DigestHex(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Sha1Digest, RefusalsChangeNothing) {
  struct Case {
    const char *what;
    void (*call)(TSHA1 &);
    bool finishFirst;
    const char *message;
  };
  static const std::array<Case, 5> cases{{
      {"Update", [](TSHA1 &s) { s.Update("x", 1); }, true, "Message digest already complete."},
      {"UpdateText", [](TSHA1 &s) { s.UpdateText("x"); }, true, "Message digest already complete."},
      {"Finish", [](TSHA1 &s) { s.Finish(); }, true, "Message digest already complete."},
      {"Digest", [](TSHA1 &s) { (void)s.Digest(); }, false, "Message digest not complete."},
      {"DigestHex", [](TSHA1 &s) { (void)s.DigestHex(); }, false, "Message digest not complete."},
  }};
  for (const auto &c : cases) {
    TSHA1 sha;
    sha.UpdateText("abc");
    if (c.finishFirst)
      sha.Finish();
    try {
      c.call(sha);
      ADD_FAILURE() << c.what << " was not refused";
    } catch (const Exception &e) {
      EXPECT_STREQ(e.what(), c.message) << c.what;
    }
    if (!c.finishFirst)
      sha.Finish();
    EXPECT_EQ(sha.DigestHex(), "a9993e364706816aba3e25717850c26c9cd0d89d") << c.what;
  }
}

TEST(Sha1Digest, NameSizesAndRawDigest) {
  TSHA1 sha;
  EXPECT_EQ(sha.Name(), "SHA-1");
  EXPECT_EQ(sha.BlockSize(), 64);
  EXPECT_EQ(sha.DigestSize(), 20);
  sha.Finish();
  ASSERT_EQ(sha.Digest().size(), 20u);
  EXPECT_EQ(static_cast<unsigned char>(sha.Digest()[0]), 0xda);
  EXPECT_EQ(static_cast<unsigned char>(sha.Digest()[19]), 0x09);
  EXPECT_EQ(sha.DigestHex().size(), 40u);
}
