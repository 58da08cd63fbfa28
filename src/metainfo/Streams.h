#pragma once

#include "metainfo/Object.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace mirel {

// Raised when a stream cannot be opened, read or positioned.
class EStreamError : public Exception {
public:
  using Exception::Exception;
};

// A seekable, readable byte stream. The bencode decoder reads one byte per call,
// so implementations keep Read cheap for small counts.
class TStream : public TObject {
public:
  // Reads up to count bytes; returns how many were read, 0 at the end of the data.
  virtual std::size_t Read(void *buffer, std::size_t count) = 0;
  virtual std::int64_t Position() const = 0;
  // Total length of the data in bytes.
  virtual std::int64_t Size() const = 0;
  // Moves to an absolute position; past the end is allowed (reads then give 0),
  // a negative position raises EStreamError.
  virtual void Seek(std::int64_t position) = 0;
  // Moves by delta bytes from the current position.
  void SeekRelative(std::int64_t delta) { Seek(Position() + delta); }

  // Reads one byte; -1 at the end of the data. The decoder's hot path.
  virtual int ReadByte() {
    unsigned char b;
    return Read(&b, 1) == 1 ? b : -1;
  }
};

// Read-only stream over a file, buffered so single-byte reads stay cheap.
// The constructor raises EStreamError when the file cannot be opened.
class TFileStream : public TStream {
public:
  explicit TFileStream(const std::string &path);
  ~TFileStream() override;
  TFileStream(const TFileStream &) = delete;
  TFileStream &operator=(const TFileStream &) = delete;

  std::size_t Read(void *buffer, std::size_t count) override;
  int ReadByte() override {
    if (Next == Filled && !Fill())
      return -1;
    return Buffer[Next++];
  }
  std::int64_t Position() const override { return BufferStart + static_cast<std::int64_t>(Next); }
  std::int64_t Size() const override { return FileSize; }
  void Seek(std::int64_t position) override;

private:
  static constexpr std::size_t BufferSize = 64 * 1024;
  bool Fill();

  int Fd = -1;
  std::int64_t FileSize = 0;
  std::unique_ptr<unsigned char[]> Buffer;
  std::int64_t BufferStart = 0; // file position of Buffer[0]
  std::size_t Next = 0;         // index of the next byte to hand out
  std::size_t Filled = 0;       // bytes valid in Buffer
};

// Read-only stream over bytes held in memory (a copy it owns).
class TMemoryStream : public TStream {
public:
  explicit TMemoryStream(std::string bytes) : Bytes(std::move(bytes)) {}

  std::size_t Read(void *buffer, std::size_t count) override;
  int ReadByte() override {
    if (Pos >= static_cast<std::int64_t>(Bytes.size()))
      return -1;
    return static_cast<unsigned char>(Bytes[static_cast<std::size_t>(Pos++)]);
  }
  std::int64_t Position() const override { return Pos; }
  std::int64_t Size() const override { return static_cast<std::int64_t>(Bytes.size()); }
  void Seek(std::int64_t position) override;

private:
  std::string Bytes;
  std::int64_t Pos = 0;
};

} // namespace mirel
