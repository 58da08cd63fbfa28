#include "metainfo/Streams.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

using namespace mirel;

namespace {

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 131) >> 3);
  return s;
}

// Reads the whole stream with reads of the given sizes, cycling.
std::string ReadAll(TStream &s, std::initializer_list<std::size_t> sizes) {
  std::string out;
  for (;;) {
    for (std::size_t n : sizes) {
      std::string chunk(n, '\0');
      const std::size_t got = s.Read(chunk.data(), n);
      out.append(chunk, 0, got);
      if (got < n)
        return out;
    }
  }
}

} // namespace

TEST(Streams, FileStreamReadsAcrossItsBuffer) {
  test::Sandbox box;
  const std::string data = Pattern(200000); // spans several 64 KiB buffers
  const std::string path = box.write("data.bin", data);
  for (auto sizes : {std::initializer_list<std::size_t>{1}, {7, 65536, 1}, {100000}, {3, 200001}}) {
    TFileStream s(path);
    EXPECT_EQ(s.Size(), 200000);
    EXPECT_EQ(ReadAll(s, sizes), data);
    EXPECT_EQ(s.Position(), 200000);
    EXPECT_EQ(s.ReadByte(), -1);
  }
}

TEST(Streams, SeeksInBothKinds) {
  test::Sandbox box;
  const std::string data = Pattern(150000);
  TFileStream file(box.write("d.bin", data));
  TMemoryStream memory(data);
  for (TStream *s : {static_cast<TStream *>(&file), static_cast<TStream *>(&memory)}) {
    EXPECT_EQ(s->ReadByte(), static_cast<unsigned char>(data[0]));
    s->SeekRelative(-1); // the decoder's one step back
    EXPECT_EQ(s->Position(), 0);
    EXPECT_EQ(s->ReadByte(), static_cast<unsigned char>(data[0]));
    s->Seek(140000);
    EXPECT_EQ(s->ReadByte(), static_cast<unsigned char>(data[140000]));
    s->Seek(70000);
    EXPECT_EQ(s->ReadByte(), static_cast<unsigned char>(data[70000]));
    s->SeekRelative(-2);
    EXPECT_EQ(s->Position(), 69999);
    EXPECT_EQ(s->ReadByte(), static_cast<unsigned char>(data[69999]));
    s->Seek(999999); // past the end: reads give nothing
    char c;
    EXPECT_EQ(s->Read(&c, 1), 0u);
    EXPECT_THROW(s->Seek(-1), EStreamError);
    s->Seek(0);
    EXPECT_EQ(ReadAll(*s, {4096}), data);
  }
}

TEST(Streams, UnopenableFilesRaise) {
  test::Sandbox box;
  EXPECT_THROW(TFileStream(box.file("missing")), EStreamError);
  EXPECT_THROW(TFileStream(box.path().string()), EStreamError);
  try {
    TFileStream s(box.file("missing"));
  } catch (const EStreamError &e) {
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
  }
  // A FIFO with no writer must neither block nor be read as a file.
  const std::string fifo = box.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(TFileStream{fifo}, EStreamError);
  EXPECT_THROW(TFileStream("/dev/null"), EStreamError);
  const std::string empty = box.write("empty", "");
  TFileStream s(empty);
  EXPECT_EQ(s.ReadByte(), -1);
}
