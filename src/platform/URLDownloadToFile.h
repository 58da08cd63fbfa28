#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mirel {

// Result codes of URLDownloadToFile: 0 is success, anything else a failure.
constexpr int32_t S_OK = 0;
constexpr int32_t E_ABORT = static_cast<int32_t>(0x80004004u);
constexpr int32_t INET_E_INVALID_URL = static_cast<int32_t>(0x800C0002u);
constexpr int32_t INET_E_CANNOT_CONNECT = static_cast<int32_t>(0x800C0004u);
constexpr int32_t INET_E_RESOURCE_NOT_FOUND = static_cast<int32_t>(0x800C0005u);
constexpr int32_t INET_E_DOWNLOAD_FAILURE = static_cast<int32_t>(0x800C0008u);
constexpr int32_t INET_E_UNKNOWN_PROTOCOL = static_cast<int32_t>(0x800C000Du);
constexpr int32_t INET_E_CANNOT_WRITE_FILE = static_cast<int32_t>(0x800C0011u);

// Receives the notifications of one download, on the thread that called
// URLDownloadToFile.
class IBindStatusCallback {
public:
  virtual ~IBindStatusCallback() = default;
  // The transfer has begun (the URL was accepted).
  virtual void OnStartBinding() = 0;
  // Bytes received so far and the announced total (0 when the server gave no
  // length). Comes at least every 50 ms while the transfer runs, also while
  // connecting, and once more with the final count. Return false to abort.
  virtual bool OnProgress(uint64_t received, uint64_t total, const std::string &statusText) = 0;
  // The transfer has ended: errorText is empty on success and says what went
  // wrong otherwise (for an HTTP error it names the status).
  virtual void OnStopBinding(int32_t result, const std::string &errorText) = 0;
};

// Limits that keep a dead or stalled server from blocking forever.
struct URLDownloadLimits {
  long ConnectTimeoutMs = 30000;
  // A transfer slower than LowSpeedBytes per second for LowSpeedSeconds ends
  // with an error; this also covers a server that accepts and never answers.
  long LowSpeedBytes = 1;
  long LowSpeedSeconds = 60;
  long MaxRedirects = 10;
};

// Fetches an http or https URL (redirects only to http or https) into the
// file, blocking the calling thread; the callback, when given, is called on
// this thread. Unreserved characters written as percent escapes in the host
// and path (%2E, %2D, %5F, %7E, letters, digits) are decoded first, so an
// escaped URL reaches the same resource. An HTTP status of 400 or more is a
// failure. On failure the file is removed. Returns S_OK or a failure code.
// A URL that is empty, malformed or of another scheme fails before the
// transfer begins: OnStartBinding is not called.
int32_t URLDownloadToFile(const std::string &url, const std::string &fileName,
                          IBindStatusCallback *callback, const URLDownloadLimits &limits = {});

// The URL as it goes to the network (escapes of unreserved characters in host
// and path decoded, spaces and bytes above 0x7F escaped), or empty when it is
// not a well-formed http or https URL.
std::string PrepareRequestURL(const std::string &url);

// Writes each byte for which needsEscape is true as %XX (upper-case hex).
std::string PercentEscape(std::string_view text, bool (*needsEscape)(unsigned char));

} // namespace mirel
