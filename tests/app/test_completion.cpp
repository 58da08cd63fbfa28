// Copying the setup file next to the downloader: exact bytes whatever the
// size and file system, the old file replaced, nothing half-written left.
#include "app/Completion.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using mirel::CopyFileReplacing;
using mirel::test::readFile;
using mirel::test::Sandbox;

namespace {

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 2463534242u;
  for (char &c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

// A folder on tmpfs, where files cannot be opened for direct writes.
class ShmFolder {
public:
  ShmFolder() {
    std::string pattern = "/dev/shm/mirel-copy-XXXXXX";
    if (fs::is_directory("/dev/shm") && mkdtemp(pattern.data()) != nullptr)
      Path = pattern + "/";
  }
  ~ShmFolder() {
    if (!Path.empty())
      fs::remove_all(Path);
  }
  std::string Path;
};

} // namespace

TEST(CopyFileReplacing, CopiesExactBytesOnEveryFileSystem) {
  Sandbox box;
  ShmFolder shm;
  std::vector<std::string> folders{box.path().string() + "/"};
  if (!shm.Path.empty())
    folders.push_back(shm.Path);
  // Empty, below one block, one block, and past the copy's chunk with an
  // unaligned tail.
  const std::array<size_t, 5> sizes{0, 1, 4096, 1 << 20, (9 << 20) + 123};
  for (const std::string &folder : folders) {
    for (const size_t size : sizes) {
      const std::string bytes = Pattern(size);
      const std::string source = box.write("source.bin", bytes);
      const std::string destination = folder + "setup.bin";
      ASSERT_TRUE(CopyFileReplacing(source, destination)) << folder << " " << size;
      EXPECT_TRUE(readFile(destination) == bytes) << folder << " " << size;
      EXPECT_FALSE(fs::exists(destination + ".part")) << folder;
      // The source stays as it was.
      EXPECT_TRUE(readFile(source) == bytes) << folder << " " << size;
    }
  }
}

TEST(CopyFileReplacing, ReplacesALongerFile) {
  Sandbox box;
  const std::string destination = box.write("app/setup.bin", Pattern(3 << 20));
  const std::string bytes = Pattern(5000);
  ASSERT_TRUE(CopyFileReplacing(box.write("work/setup.bin", bytes), destination));
  EXPECT_TRUE(readFile(destination) == bytes);
}

TEST(CopyFileReplacing, FailureLeavesDestinationAsItWas) {
  Sandbox box;
  const std::string destination = box.write("app/setup.bin", "old setup");
  const std::string source = box.write("work/setup.bin", "new setup");
  EXPECT_FALSE(CopyFileReplacing(box.file("work/missing.bin"), destination));
  EXPECT_EQ(readFile(destination), "old setup");
  EXPECT_FALSE(fs::exists(destination + ".part"));
  // A folder as source reads as an error, not as an empty file.
  EXPECT_FALSE(CopyFileReplacing(box.file("work"), destination));
  EXPECT_EQ(readFile(destination), "old setup");
  EXPECT_FALSE(fs::exists(destination + ".part"));
  EXPECT_FALSE(CopyFileReplacing(source, box.file("no-such-folder/setup.bin")));
}
