// Product identity, folders, the engine bundle and the single-instance lock.
#include "app/Bundle.h"
#include "app/Identity.h"
#include "app/InstanceLock.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using mirel::test::readFile;
using mirel::test::Sandbox;

namespace {

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

private:
  std::string name_, old_;
  bool had_ = false;
};

} // namespace

TEST(Identity, TitleAndMutexName) {
  EXPECT_EQ(mirel::ApplicationTitle(mirel::DisplayName, mirel::ProductId), "Mirel(s) 다운로드");
  EXPECT_EQ(mirel::ApplicationTitle("", "mirelS"), "mirelS 다운로드");
  EXPECT_EQ(mirel::InstanceMutexName("mirelS"), "15fab0e9-9dd5-4600-9184-b839343ec1db_P3_mirelS");
}

TEST(Identity, ConsoleSwitchOnlyAsFirstArgumentExactly) {
  struct Case {
    std::vector<const char *> argv;
    bool console;
  };
  const std::array<Case, 7> cases{{
      {{"dl"}, false},
      {{"dl", "-console"}, true},
      {{"dl", "-console", "x"}, true},
      {{"dl", "-Console"}, false},
      {{"dl", "/console"}, false},
      {{"dl", "--console"}, false},
      {{"dl", "x", "-console"}, false},
  }};
  for (const Case &c : cases)
    EXPECT_EQ(mirel::ParseShowEngineConsole(static_cast<int>(c.argv.size()), c.argv.data()),
              c.console)
        << c.argv.back();
}

TEST(Identity, ServerUrlFromEnvironmentOrBuild) {
  struct Case {
    const char *env;
    const char *builtIn;
    const char *expected;
  };
  const std::array<Case, 5> cases{{
      {nullptr, "http://127.0.0.1:8080/", "http://127.0.0.1:8080/"},
      {"", "http://127.0.0.1:8080/", "http://127.0.0.1:8080/"},
      {"http://staging:81/dl/", "http://127.0.0.1:8080/", "http://staging:81/dl/"},
      {"http://staging:81/dl", "http://127.0.0.1:8080/", "http://staging:81/dl/"},
      {nullptr, "http://x", "http://x/"},
  }};
  for (const Case &c : cases)
    EXPECT_EQ(mirel::ResolveServerBaseUrl(c.env, c.builtIn), c.expected);
  ScopedEnv env("MIREL_SERVER_URL", "http://10.1.2.3:9/base");
  EXPECT_EQ(mirel::ResolveServerBaseUrl(), "http://10.1.2.3:9/base/");
}

TEST(Folders, TempFolderFallsBackToTmp) {
  Sandbox box;
  const std::string file = box.write("plain-file", "x");
  struct Case {
    const char *tmpdir;
    std::string expected;
  };
  const std::string dir = box.path().string();
  const std::string dirSlash = dir + "/";
  const std::array<Case, 5> cases{{
      {dir.c_str(), dirSlash},
      {dirSlash.c_str(), dirSlash},
      {file.c_str(), "/tmp/"},
      {"/no/such/folder", "/tmp/"},
      {nullptr, "/tmp/"},
  }};
  for (const Case &c : cases) {
    ScopedEnv env("TMPDIR", c.tmpdir);
    EXPECT_EQ(mirel::GetTempFolder(), c.expected) << (c.tmpdir ? c.tmpdir : "(unset)");
  }
}

TEST(Folders, WorkAndEngineFolders) {
  Sandbox box;
  const std::string temp = box.path().string() + "/";
  const std::string work = mirel::MakeWorkFolder(temp, "mirelS");
  EXPECT_EQ(work, temp + "mirelS/");
  EXPECT_TRUE(fs::is_directory(work));
  // A second run finds both folders and reuses them.
  EXPECT_EQ(mirel::MakeWorkFolder(temp, "mirelS"), work);
  EXPECT_EQ(mirel::MakeEngineFolder(work, "mirelS_TXDownTemp"), work + "mirelS_TXDownTemp/");
  EXPECT_EQ(mirel::MakeEngineFolder(work, "mirelS_TXDownTemp"), work + "mirelS_TXDownTemp/");

  // A file in the way of the engine subfolder: the work folder serves.
  box.write("other/mirelS/mirelS_TXDownTemp", "in the way");
  EXPECT_EQ(mirel::MakeEngineFolder(temp + "other/mirelS/", "mirelS_TXDownTemp"),
            temp + "other/mirelS/");
  // A work folder that cannot be made: empty.
  box.write("blocked", "file, not folder");
  EXPECT_EQ(mirel::MakeWorkFolder(temp + "blocked/", "mirelS"), "");
}

TEST(Bundle, EveryRowWrittenByteExact) {
  Sandbox box;
  const std::string assets = std::string(MIREL_SOURCE_DIR) + "/assets/";
  for (const mirel::TBundleRow &row : mirel::BundleTable) {
    const std::string path = box.file(row.FileName);
    ASSERT_TRUE(mirel::WriteBundleEntry(row.Name, row.Type, path)) << row.FileName;
    const std::string written = readFile(path);
    EXPECT_FALSE(written.empty()) << row.FileName;
    const std::string kind = row.Type;
    if (std::string(row.Name) == "Down") {
      EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none);
      // The engine this tree builds, when it builds one.
      const std::string engine = std::string(MIREL_BINARY_DIR) + "/transfer-engine/mirel-engine";
      if (fs::exists(engine)) {
        EXPECT_EQ(written, readFile(engine));
      }
    } else if (kind == "INI") {
      if (fs::exists(assets + "Core.ini")) {
        EXPECT_EQ(written, readFile(assets + "Core.ini"));
      }
    } else {
      EXPECT_EQ(written, readFile(assets + "bundle/" + row.FileName)) << row.FileName;
    }
  }
}

TEST(Bundle, LookupIgnoresCaseAndRefusesUnknown) {
  const auto exact = mirel::FindBundleResource("CoreIni", "INI");
  ASSERT_TRUE(exact.has_value());
  EXPECT_EQ(mirel::FindBundleResource("COREINI", "ini"), exact);
  EXPECT_EQ(mirel::FindBundleResource("coreini", "Ini"), exact);
  EXPECT_FALSE(mirel::FindBundleResource("CoreIni", "exe").has_value());
  EXPECT_FALSE(mirel::FindBundleResource("nothing", "pyd").has_value());
  Sandbox box;
  EXPECT_FALSE(mirel::WriteBundleEntry("nothing", "pyd", box.file("x")));
  EXPECT_FALSE(fs::exists(box.file("x")));
}

TEST(Bundle, ReplacesOldFilesAndReportsUnwritablePaths) {
  Sandbox box;
  const std::string path = box.write("zlib.pyd", std::string(100000, 'o'));
  fs::permissions(path, fs::perms::owner_read);
  // Root may write a read-only file; the point is the old bytes are all gone.
  ASSERT_TRUE(mirel::WriteBundleEntry("zlib", "pyd", path));
  EXPECT_EQ(readFile(path), readFile(std::string(MIREL_SOURCE_DIR) + "/assets/bundle/zlib.pyd"));
  EXPECT_FALSE(mirel::WriteBundleEntry("zlib", "pyd", box.file("no/such/folder/zlib.pyd")));
  EXPECT_FALSE(mirel::WriteBundleEntry("zlib", "pyd", box.path().string()));
}

TEST(Bundle, CleanUpRemovesOnlyWhatThePreparationWrote) {
  Sandbox box;
  const std::string work = box.path().string() + "/mirelS/";
  const std::string engine = work + "mirelS_TXDownTemp/";
  fs::create_directories(engine);
  for (const mirel::TBundleRow &row : mirel::BundleTable)
    ASSERT_TRUE(mirel::WriteBundleEntry(row.Name, row.Type, engine + row.FileName));
  box.write("mirelS/mirelS_TXDownTemp/mirelS.setup.exe.torrent", "d4:infode");
  box.write("mirelS/Download.ini", "[Connection]\nWaitTime=3\n");
  box.write("mirelS/setup.bin", "setup");

  mirel::CleanUpEngineFolder(engine, "mirelS.setup.exe.torrent");
  EXPECT_FALSE(fs::exists(engine));
  EXPECT_TRUE(fs::exists(work + "Download.ini"));
  EXPECT_TRUE(fs::exists(work + "setup.bin"));

  // An unknown file keeps the engine folder.
  fs::create_directories(engine);
  box.write("mirelS/mirelS_TXDownTemp/stranger", "x");
  ASSERT_TRUE(mirel::WriteBundleEntry("zlib", "pyd", engine + "zlib.pyd"));
  mirel::CleanUpEngineFolder(engine, "mirelS.setup.exe.torrent");
  EXPECT_FALSE(fs::exists(engine + "zlib.pyd"));
  EXPECT_TRUE(fs::exists(engine + "stranger"));

  // The work folder as engine folder: bundle and metainfo go, the rest stays.
  for (const mirel::TBundleRow &row : mirel::BundleTable)
    ASSERT_TRUE(mirel::WriteBundleEntry(row.Name, row.Type, work + row.FileName));
  box.write("mirelS/mirelS.setup.exe.torrent", "d4:infode");
  mirel::CleanUpEngineFolder(work, "mirelS.setup.exe.torrent");
  EXPECT_TRUE(fs::exists(work + "Download.ini"));
  EXPECT_TRUE(fs::exists(work + "setup.bin"));
  EXPECT_FALSE(fs::exists(work + "mirelS.setup.exe.torrent"));
  for (const mirel::TBundleRow &row : mirel::BundleTable)
    EXPECT_FALSE(fs::exists(work + row.FileName)) << row.FileName;
}

TEST(InstanceLockFolder, RuntimeDirOrPrivateTmpFolder) {
  Sandbox box;
  {
    ScopedEnv env("XDG_RUNTIME_DIR", box.path().c_str());
    EXPECT_EQ(mirel::InstanceLockFolder(), box.path().string() + "/");
  }
  for (const char *value : {static_cast<const char *>(nullptr), "", "/no/such/folder"}) {
    ScopedEnv env("XDG_RUNTIME_DIR", value);
    const std::string folder = mirel::InstanceLockFolder();
    EXPECT_EQ(folder, "/tmp/mirel-" + std::to_string(getuid()) + "/");
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
  }
}

TEST(InstanceLock, SecondHolderInSameProcessIsRefused) {
  Sandbox box;
  ScopedEnv env("XDG_RUNTIME_DIR", box.path().c_str());
  mirel::InstanceLock first, second, other;
  EXPECT_EQ(first.Acquire("P3_a"), mirel::InstanceLock::Result::Acquired);
  // flock locks belong to the open file description: a second open is refused.
  EXPECT_EQ(second.Acquire("P3_a"), mirel::InstanceLock::Result::AlreadyRunning);
  EXPECT_EQ(other.Acquire("P3_b"), mirel::InstanceLock::Result::Acquired);
  EXPECT_TRUE(fs::exists(box.file("P3_a.lock")));
}
