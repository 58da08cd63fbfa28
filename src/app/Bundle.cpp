#include "Bundle.h"

#include <QFile>
#include <QLocale>
#include <QResource>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

// Resources of a static library are registered by an explicit call, which
// also keeps the linker from dropping them.
static void InitMirelAppResources() {
  Q_INIT_RESOURCE(mirel_app);
}

namespace mirel {

void InitAppResources() {
  static const bool done = (InitMirelAppResources(), true);
  (void)done;
}

namespace {

bool IsFolder(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EqualsNoCase(const std::string &a, const char *b) {
  return strcasecmp(a.c_str(), b) == 0;
}

// Writes all of data to fd, retrying short writes.
bool WriteAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

} // namespace

std::string GetTempFolder() {
  const char *tmp = std::getenv("TMPDIR");
  std::string folder = (tmp != nullptr && *tmp != '\0' && IsFolder(tmp)) ? tmp : "/tmp";
  if (folder.back() != '/')
    folder += '/';
  return folder;
}

std::string MakeWorkFolder(const std::string &tempFolder, const std::string &productId) {
  const std::string folder = tempFolder + productId + "/";
  if (!IsFolder(folder))
    mkdir(folder.c_str(), 0700);
  return IsFolder(folder) ? folder : std::string();
}

std::string MakeEngineFolder(const std::string &workFolder, const std::string &engineFolderName) {
  const std::string sub = workFolder + engineFolderName;
  if (IsFolder(sub) || (mkdir(sub.c_str(), 0700) == 0 && IsFolder(sub)))
    return sub + "/";
  return workFolder;
}

std::optional<std::string> FindBundleResource(const std::string &name, const std::string &type) {
  InitAppResources();
  for (const TBundleRow &row : BundleTable) {
    if (!EqualsNoCase(name, row.Name) || !EqualsNoCase(type, row.Type))
      continue;
    // Stored under the table's spelling, in the Korean language section.
    const QString path = QStringLiteral(":/bundle/%1.%2").arg(row.Name, row.Type);
    QResource res(path, QLocale(QLocale::Korean, QLocale::SouthKorea));
    if (!res.isValid())
      return std::nullopt;
    const QByteArray bytes = res.uncompressedData();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
  }
  return std::nullopt;
}

bool WriteBundleEntry(const std::string &name, const std::string &type, const std::string &path) {
  const std::optional<std::string> bytes = FindBundleResource(name, type);
  if (!bytes) {
    std::fprintf(stderr, "bundle resource %s.%s is missing from this build\n", name.c_str(),
                 type.c_str());
    return false;
  }
  const mode_t mode = EqualsNoCase(type, "exe") ? 0755 : 0644;
  // O_TRUNC on the existing file, like a create that replaces it; a running
  // program's file cannot be opened for writing (ETXTBSY), as on Windows.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0)
    return false;
  bool ok = WriteAll(fd, bytes->data(), bytes->size());
  // An older file keeps its old mode through O_TRUNC.
  ok = fchmod(fd, mode) == 0 && ok;
  ok = close(fd) == 0 && ok;
  return ok;
}

void CleanUpEngineFolder(const std::string &engineFolder, const std::string &metainfoFileName) {
  if (engineFolder.empty())
    return;
  for (const TBundleRow &row : BundleTable)
    unlink((engineFolder + row.FileName).c_str());
  unlink((engineFolder + metainfoFileName).c_str());
  rmdir(engineFolder.c_str());
}

} // namespace mirel
