#include "ServerConfig.h"

#include "IniFile.h"

#include <filesystem>
#include <system_error>

namespace mirel {

namespace {

const char kConfigFileName[] = "Download.ini";

bool fetchConfig(const std::string &remote, const std::string &local,
                 const TFetchContext &context) {
  TURLDownload download;
  download.URL = remote;
  download.Display = context.Display;
  download.Closing = context.Closing;
  download.Limits = context.Limits;
  return download.Fetch(local);
}

} // namespace

int32_t ReadWaitTime(const std::string &workFolder, const std::string &baseUrl,
                     const TFetchContext &context) {
  const std::string remote = baseUrl + kConfigFileName;
  std::error_code ec;
  // A folder that cannot be made shows up as a failed fetch below.
  std::filesystem::create_directory(workFolder, ec);
  const std::string local = workFolder + kConfigFileName;
  int32_t result = DefaultWaitTime;
  if (fetchConfig(remote, local, context))
    result = TIniFile(local).ReadInteger("Connection", "WaitTime", DefaultWaitTime);
  return result;
}

std::string ReadDownloadURL(const std::string &workFolder, const std::string &baseUrl,
                            const std::string &productId, const std::string &setupFileName,
                            const TFetchContext &context) {
  const std::string remote = baseUrl + kConfigFileName;
  const std::string local = workFolder + kConfigFileName;
  std::string url = baseUrl + setupFileName;
  if (fetchConfig(remote, local, context))
    url = TIniFile(local).ReadString("Download", productId, {});
  return url;
}

} // namespace mirel
