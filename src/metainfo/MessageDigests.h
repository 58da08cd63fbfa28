#pragma once

#include "metainfo/Object.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirel {

// Gathers input into blocks and hands out the finished digest. A digest is
// open after construction or Reset, and completed after Finish; refused calls
// raise Exception and change nothing.
class TMessageDigest : public TObject {
public:
  ~TMessageDigest() override = default;
  TMessageDigest(const TMessageDigest &) = delete;
  TMessageDigest &operator=(const TMessageDigest &) = delete;

  void Update(const void *data, std::size_t count);
  void UpdateText(std::string_view text) { Update(text.data(), text.size()); }
  virtual void Finish();
  // The DigestSize raw bytes; only once completed.
  const std::string &Digest() const;
  std::string DigestHex() const;
  // Starts a new message; allowed in any state.
  virtual void Reset();
  virtual std::string Name() const = 0;

  int BlockSize() const { return BlockSizeValue; }
  int DigestSize() const { return DigestSizeValue; }
  bool Completed() const { return CompletedValue; }

protected:
  TMessageDigest(int blockSize, int digestSize);
  // Processes count whole blocks at data.
  virtual void TransformBlocks(const std::uint8_t *data, std::size_t count);

  std::string DigestBytes;
  std::vector<std::uint8_t> Buffer;
  int BufferedCount = 0;
  // 64-bit so that the length field stays right for any message size.
  std::int64_t BlockCount = 0;
  bool CompletedValue = false;

  // Raises when the digest is already complete.
  void CheckOpen() const;

private:
  int BlockSizeValue;
  int DigestSizeValue;
};

// Padding and length encoding shared by MD4-style hashes.
class TMD4Family : public TMessageDigest {
public:
  void Finish() override;
  void Reset() override;

protected:
  TMD4Family(int blockSize, bool bigEndian, const std::uint32_t *initialState, int stateSize);

  std::vector<std::uint32_t> InitialState;
  std::vector<std::uint32_t> State;
  bool BigEndian;
};

// SHA-1 of FIPS 180-1. Uses the processor's SHA instructions when present.
class TSHA1 : public TMD4Family {
public:
  TSHA1();
  std::string Name() const override { return "SHA-1"; }

protected:
  void TransformBlocks(const std::uint8_t *data, std::size_t count) override;
};

namespace detail {
// True when the processor offers the SHA extensions (and SSE4.1).
bool Sha1HardwareAvailable();
// Lets tests force the portable compression (false) or allow the hardware one
// (true, the default). Not for production callers.
void SetSha1HardwareAllowed(bool allowed);
bool Sha1HardwareInUse();
} // namespace detail

} // namespace mirel
