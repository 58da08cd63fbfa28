#include "metainfo/MessageDigests.h"

#include "metainfo/BDecode.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define MIREL_SHA1_X86 1
#endif

namespace mirel {

// ---- TMessageDigest -------------------------------------------------------

TMessageDigest::TMessageDigest(int blockSize, int digestSize)
    : BlockSizeValue(blockSize), DigestSizeValue(digestSize) {
  TMessageDigest::Reset();
}

void TMessageDigest::CheckOpen() const {
  if (CompletedValue)
    throw Exception("Message digest already complete.");
}

void TMessageDigest::Reset() {
  // Allocated once; later resets reuse the buffers.
  Buffer.assign(static_cast<std::size_t>(BlockSizeValue), 0);
  DigestBytes.assign(static_cast<std::size_t>(DigestSizeValue), '\0');
  BufferedCount = 0;
  BlockCount = 0;
  CompletedValue = false;
}

void TMessageDigest::TransformBlocks(const std::uint8_t *, std::size_t count) {
  BlockCount += static_cast<std::int64_t>(count);
}

void TMessageDigest::Update(const void *data, std::size_t count) {
  CheckOpen();
  if (count == 0)
    return; // data may be null then, and memcpy must not see it
  auto p = static_cast<const std::uint8_t *>(data);
  const auto block = static_cast<std::size_t>(BlockSizeValue);
  if (BufferedCount > 0) {
    const std::size_t space = block - static_cast<std::size_t>(BufferedCount);
    if (count < space) {
      std::memcpy(Buffer.data() + BufferedCount, p, count);
      BufferedCount += static_cast<int>(count);
      return;
    }
    std::memcpy(Buffer.data() + BufferedCount, p, space);
    TransformBlocks(Buffer.data(), 1);
    p += space;
    count -= space;
  }
  const std::size_t blocks = count / block;
  if (blocks > 0)
    TransformBlocks(p, blocks);
  BufferedCount = static_cast<int>(count % block);
  if (BufferedCount > 0)
    std::memcpy(Buffer.data(), p + blocks * block, static_cast<std::size_t>(BufferedCount));
}

void TMessageDigest::Finish() {
  CheckOpen();
  CompletedValue = true;
}

const std::string &TMessageDigest::Digest() const {
  if (!CompletedValue)
    throw Exception("Message digest not complete.");
  return DigestBytes;
}

std::string TMessageDigest::DigestHex() const {
  return BytesToHex(Digest(), DigestBytes.size());
}

// ---- TMD4Family -------------------------------------------------------------

TMD4Family::TMD4Family(int blockSize, bool bigEndian, const std::uint32_t *initialState,
                       int stateSize)
    : TMessageDigest(blockSize, stateSize),
      InitialState(initialState, initialState + stateSize / 4), BigEndian(bigEndian) {
  TMD4Family::Reset();
}

void TMD4Family::Reset() {
  TMessageDigest::Reset();
  State = InitialState;
}

void TMD4Family::Finish() {
  CheckOpen();
  const auto block = static_cast<std::size_t>(BlockSize());
  const std::uint64_t bits =
      (static_cast<std::uint64_t>(BlockCount) * block + static_cast<std::uint64_t>(BufferedCount)) *
      8;
  Buffer[static_cast<std::size_t>(BufferedCount++)] = 0x80;
  if (block - static_cast<std::size_t>(BufferedCount) < 8) {
    std::memset(Buffer.data() + BufferedCount, 0, block - static_cast<std::size_t>(BufferedCount));
    TransformBlocks(Buffer.data(), 1);
    BufferedCount = 0;
  }
  std::memset(Buffer.data() + BufferedCount, 0,
              block - 8 - static_cast<std::size_t>(BufferedCount));
  for (int i = 0; i < 8; ++i) {
    const int shift = BigEndian ? 56 - 8 * i : 8 * i;
    Buffer[block - 8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> shift);
  }
  TransformBlocks(Buffer.data(), 1);
  BufferedCount = 0;
  for (std::size_t w = 0; w < State.size(); ++w) {
    for (int i = 0; i < 4; ++i) {
      const int shift = BigEndian ? 24 - 8 * i : 8 * i;
      DigestBytes[4 * w + static_cast<std::size_t>(i)] = static_cast<char>(State[w] >> shift);
    }
  }
  TMessageDigest::Finish();
}

// ---- TSHA1 ----------------------------------------------------------------

namespace {

constexpr std::uint32_t Sha1Init[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

void Sha1BlocksPortable(std::uint32_t *state, const std::uint8_t *data, std::size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t)
      w[t] = (std::uint32_t{data[4 * t]} << 24) | (std::uint32_t{data[4 * t + 1]} << 16) |
             (std::uint32_t{data[4 * t + 2]} << 8) | std::uint32_t{data[4 * t + 3]};
    for (int t = 16; t < 80; ++t)
      w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    auto step = [&](std::uint32_t f, std::uint32_t k, std::uint32_t wt) {
      const std::uint32_t temp = RotateLeft(a, 5) + f + e + k + wt;
      e = d;
      d = c;
      c = RotateLeft(b, 30);
      b = a;
      a = temp;
    };
    for (int t = 0; t < 20; ++t)
      step((b & c) | (~b & d), 0x5A827999, w[t]);
    for (int t = 20; t < 40; ++t)
      step(b ^ c ^ d, 0x6ED9EBA1, w[t]);
    for (int t = 40; t < 60; ++t)
      step((b & c) | (b & d) | (c & d), 0x8F1BBCDC, w[t]);
    for (int t = 60; t < 80; ++t)
      step(b ^ c ^ d, 0xCA62C1D6, w[t]);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

#ifdef MIREL_SHA1_X86
bool DetectSha1Hardware() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d))
    return false;
  const bool sse41 = (c & (1u << 19)) != 0;
  const bool ssse3 = (c & (1u << 9)) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
    return false;
  return sse41 && ssse3 && (b & (1u << 29)) != 0;
}

// Four rounds with the SHA extensions; the message words rotate through m0..m3.
#define MIREL_SHA1_LOAD(i)                                                                         \
  _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * (i))), mask)

#define MIREL_SHA1_QUAD(ecur, enext, m0, m1, m2, m3, f)                                            \
  ecur = _mm_sha1nexte_epu32(ecur, m0);                                                            \
  enext = abcd;                                                                                    \
  m1 = _mm_sha1msg2_epu32(m1, m0);                                                                 \
  abcd = _mm_sha1rnds4_epu32(abcd, ecur, f);                                                       \
  m3 = _mm_sha1msg1_epu32(m3, m0);                                                                 \
  m2 = _mm_xor_si128(m2, m0)

__attribute__((target("sha,sse4.1,ssse3"))) void
Sha1BlocksHardware(std::uint32_t *state, const std::uint8_t *data, std::size_t blocks) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  __m128i e1;
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcdSave = abcd;
    const __m128i eSave = e0;
    __m128i m0 = MIREL_SHA1_LOAD(0), m1, m2, m3;
    // Rounds 0-11 start the message schedule.
    e0 = _mm_add_epi32(e0, m0);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    m1 = MIREL_SHA1_LOAD(1);
    e1 = _mm_sha1nexte_epu32(e1, m1);
    e0 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 0);
    m0 = _mm_sha1msg1_epu32(m0, m1);
    m2 = MIREL_SHA1_LOAD(2);
    e0 = _mm_sha1nexte_epu32(e0, m2);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    m3 = MIREL_SHA1_LOAD(3);
    MIREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 0); // 12-15
    MIREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 0); // 16-19
    MIREL_SHA1_QUAD(e1, e0, m1, m2, m3, m0, 1);
    MIREL_SHA1_QUAD(e0, e1, m2, m3, m0, m1, 1);
    MIREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 1);
    MIREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 1);
    MIREL_SHA1_QUAD(e1, e0, m1, m2, m3, m0, 1); // 36-39
    MIREL_SHA1_QUAD(e0, e1, m2, m3, m0, m1, 2);
    MIREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 2);
    MIREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 2);
    MIREL_SHA1_QUAD(e1, e0, m1, m2, m3, m0, 2);
    MIREL_SHA1_QUAD(e0, e1, m2, m3, m0, m1, 2); // 56-59
    MIREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 3);
    MIREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 3);
    MIREL_SHA1_QUAD(e1, e0, m1, m2, m3, m0, 3);
    MIREL_SHA1_QUAD(e0, e1, m2, m3, m0, m1, 3);
    MIREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 3); // 76-79
    e0 = _mm_sha1nexte_epu32(e0, eSave);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}
#undef MIREL_SHA1_QUAD
#undef MIREL_SHA1_LOAD
#else
bool DetectSha1Hardware() {
  return false;
}
#endif

const bool HardwarePresent = DetectSha1Hardware();
std::atomic<bool> HardwareAllowed{true};

} // namespace

namespace detail {
bool Sha1HardwareAvailable() {
  return HardwarePresent;
}
void SetSha1HardwareAllowed(bool allowed) {
  HardwareAllowed = allowed;
}
bool Sha1HardwareInUse() {
  return HardwarePresent && HardwareAllowed;
}
} // namespace detail

TSHA1::TSHA1() : TMD4Family(64, true, Sha1Init, 20) {}

void TSHA1::TransformBlocks(const std::uint8_t *data, std::size_t count) {
#ifdef MIREL_SHA1_X86
  if (detail::Sha1HardwareInUse())
    Sha1BlocksHardware(State.data(), data, count);
  else
#endif
    Sha1BlocksPortable(State.data(), data, count);
  TMD4Family::TransformBlocks(data, count);
}

} // namespace mirel
