#include "URLHelpers.h"

#include "platform/URLDownloadToFile.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace mirel {

std::string EscapeURL(const std::string &url) {
  return PercentEscape(url, [](unsigned char c) {
    static constexpr std::string_view table = "{}^[]'#;@=&$-_.+!()";
    return table.find(static_cast<char>(c)) != std::string_view::npos;
  });
}

bool PurgeURLCache(const std::string &url) {
  // No local cache is kept (every request carries Cache-Control: no-cache),
  // so there is never an entry to remove, whatever the URL.
  (void)url;
  return false;
}

void ForceDeleteFile(const std::string &fileName) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fileName.empty() || !fs::exists(fs::symlink_status(fileName, ec)))
    return;
  if (!fs::is_symlink(fs::symlink_status(fileName, ec)))
    fs::permissions(fileName, fs::perms::owner_write, fs::perm_options::add, ec);
  if (!fs::is_directory(fs::symlink_status(fileName, ec)))
    fs::remove(fileName, ec);
}

int32_t FetchURLToFile(const std::string &url, const std::string &fileName,
                       IBindStatusCallback *callback, const URLDownloadLimits &limits) {
  ForceDeleteFile(fileName);
  PurgeURLCache(url);
  return URLDownloadToFile(EscapeURL(url), fileName, callback, limits);
}

} // namespace mirel
