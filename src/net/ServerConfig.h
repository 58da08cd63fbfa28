#pragma once

#include "URLDownload.h"

#include <cstdint>
#include <string>

namespace mirel {

// What the fetches of the server configuration file work with: the main
// window's display and closing flag, and the download service's time-outs.
struct TFetchContext {
  IFetchDisplay *Display = nullptr;
  const bool *Closing = nullptr;
  URLDownloadLimits Limits;
};

constexpr int32_t DefaultWaitTime = 10;

// Creates the work folder (one level) when missing, fetches baseUrl +
// "Download.ini" into it and returns [Connection] WaitTime in seconds; 10
// when the file cannot be fetched or the value is missing or no number.
int32_t ReadWaitTime(const std::string &workFolder, const std::string &baseUrl,
                     const TFetchContext &context = {});

// Fetches baseUrl + "Download.ini" into the work folder and returns the
// [Download] value under the product id: empty when the file has no such
// key, and baseUrl + setupFileName when the file cannot be fetched.
std::string ReadDownloadURL(const std::string &workFolder, const std::string &baseUrl,
                            const std::string &productId, const std::string &setupFileName,
                            const TFetchContext &context = {});

} // namespace mirel
