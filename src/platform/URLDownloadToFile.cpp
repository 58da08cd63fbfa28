#include "URLDownloadToFile.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace mirel {

namespace {

struct EasyDeleter {
  void operator()(CURL *h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
  void operator()(CURLM *h) const { curl_multi_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};
struct UrlDeleter {
  void operator()(CURLU *u) const { curl_url_cleanup(u); }
};
struct CurlStringDeleter {
  void operator()(char *s) const { curl_free(s); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// The easy handle leaves the multi handle before either is cleaned up.
class MultiMembership {
public:
  MultiMembership(CURLM *multi, CURL *easy) : multi_(multi), easy_(easy) {
    added_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  }
  ~MultiMembership() {
    if (added_)
      curl_multi_remove_handle(multi_, easy_);
  }
  MultiMembership(const MultiMembership &) = delete;
  MultiMembership &operator=(const MultiMembership &) = delete;
  bool added() const { return added_; }

private:
  CURLM *multi_;
  CURL *easy_;
  bool added_ = false;
};

class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the last writes reached the file.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

private:
  int fd_;
};

constexpr long kNotifyIntervalMs = 20;
constexpr long kBufferSize = 512 * 1024;

void globalInit() {
  static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)done;
}

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return c - 'A' + 10;
}

bool isUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Decodes escapes of unreserved characters; they mean the same escaped or
// not, and a host name only resolves in its plain form.
std::string decodeUnreserved(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && isHex(s[i + 1]) && isHex(s[i + 2])) {
      auto c = static_cast<unsigned char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
      if (isUnreserved(c)) {
        out += static_cast<char>(c);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// Spaces and bytes of other code pages cannot go on the request line as
// they are.
std::string escapeUnsafe(std::string_view s) {
  return PercentEscape(s, [](unsigned char c) { return c == ' ' || c >= 0x80; });
}

bool isHttpScheme(std::string_view scheme) {
  auto lower = [](std::string_view s) {
    std::string r(s);
    for (char &c : r)
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    return r;
  };
  std::string s = lower(scheme);
  return s == "http" || s == "https";
}

uint64_t announcedLength(CURL *easy);

// State of one transfer, shared by the loop and curl's write callback.
struct Transfer {
  using Clock = std::chrono::steady_clock;

  int fd = -1;
  uint64_t received = 0;
  int writeErrno = 0;
  CURL *easy = nullptr;
  IBindStatusCallback *callback = nullptr;
  const std::string *url = nullptr;
  Clock::time_point lastNotify = Clock::now() - std::chrono::milliseconds(kNotifyIntervalMs);
  bool aborted = false;
  std::string failure; // what a progress handler threw

  // Tells the callback how far the transfer is, when it has not heard so for
  // a notification interval; false when it asked to abort.
  bool notifyIfDue() {
    if (aborted || now() - lastNotify < std::chrono::milliseconds(kNotifyIntervalMs))
      return !aborted;
    return notify();
  }

  bool notify() {
    lastNotify = now();
    if (!callback || aborted)
      return !aborted;
    // This may run inside curl's write callback, which no exception may
    // cross: one thrown by the window's handlers ends the transfer instead.
    try {
      aborted = !callback->OnProgress(received, announcedLength(easy), *url);
    } catch (const std::exception &e) {
      aborted = true;
      failure = e.what();
    } catch (...) {
      aborted = true;
      failure = "unknown exception";
    }
    return !aborted;
  }

  std::string abortText() const {
    return failure.empty() ? "the transfer was aborted" : "the transfer was aborted: " + failure;
  }

  static Clock::time_point now() { return Clock::now(); }
};

size_t writeBody(char *data, size_t size, size_t count, void *user) {
  auto *t = static_cast<Transfer *>(user);
  size_t total = size * count;
  size_t done = 0;
  while (done < total) {
    ssize_t n = ::write(t->fd, data + done, total - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      t->writeErrno = errno;
      return 0; // makes curl end the transfer with a write error
    }
    done += static_cast<size_t>(n);
  }
  t->received += total;
  // One call of curl_multi_perform may read for a long time while data keeps
  // coming; notify from here too so the window's pump is not held off.
  return t->notifyIfDue() ? total : 0;
}

uint64_t announcedLength(CURL *easy) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length < 0)
    return 0;
  return static_cast<uint64_t>(length);
}

int32_t codeFor(CURLcode rc, long status) {
  switch (rc) {
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_RESOLVE_PROXY:
  case CURLE_COULDNT_CONNECT:
    return INET_E_CANNOT_CONNECT;
  case CURLE_UNSUPPORTED_PROTOCOL:
    return INET_E_UNKNOWN_PROTOCOL;
  case CURLE_WRITE_ERROR:
    return INET_E_CANNOT_WRITE_FILE;
  case CURLE_URL_MALFORMAT:
    return INET_E_INVALID_URL;
  case CURLE_HTTP_RETURNED_ERROR:
    return status == 404 || status == 410 ? INET_E_RESOURCE_NOT_FOUND : INET_E_DOWNLOAD_FAILURE;
  default:
    return INET_E_DOWNLOAD_FAILURE;
  }
}

} // namespace

std::string PercentEscape(std::string_view text, bool (*needsEscape)(unsigned char)) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (needsEscape(c)) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string PrepareRequestURL(const std::string &url) {
  for (char ch : url) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F)
      return {};
  }
  size_t sep = url.find("://");
  if (sep == std::string::npos || sep == 0 || !isHttpScheme(std::string_view(url).substr(0, sep)))
    return {};
  std::string_view rest = std::string_view(url).substr(sep + 3);
  rest = rest.substr(0, rest.find('#')); // the fragment never goes to the server
  size_t pathEnd = rest.find('?');
  std::string_view hostAndPath = rest.substr(0, pathEnd);
  std::string_view query =
      pathEnd == std::string_view::npos ? std::string_view{} : rest.substr(pathEnd);
  std::string candidate =
      escapeUnsafe(url.substr(0, sep + 3) + decodeUnreserved(hostAndPath) + std::string(query));

  globalInit();
  UrlHandle parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, candidate.c_str(), 0) != CURLUE_OK)
    return {};
  char *schemePart = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &schemePart, 0) != CURLUE_OK)
    return {};
  CurlString scheme(schemePart);
  if (!isHttpScheme(scheme.get()))
    return {};
  char *hostPart = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_HOST, &hostPart, 0) != CURLUE_OK)
    return {};
  CurlString host(hostPart);
  if (host.get()[0] == '\0')
    return {};
  char *full = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_URL, &full, 0) != CURLUE_OK)
    return {};
  CurlString fullUrl(full);
  return fullUrl.get();
}

int32_t URLDownloadToFile(const std::string &url, const std::string &fileName,
                          IBindStatusCallback *callback, const URLDownloadLimits &limits) {
  const std::string requestUrl = PrepareRequestURL(url);
  if (requestUrl.empty()) {
    size_t sep = url.find("://");
    bool otherScheme = sep != std::string::npos && sep > 0 && !isHttpScheme(url.substr(0, sep));
    return otherScheme ? INET_E_UNKNOWN_PROTOCOL : INET_E_INVALID_URL;
  }

  globalInit();
  if (callback)
    callback->OnStartBinding();
  auto stop = [&](int32_t code, const std::string &text) {
    if (callback)
      callback->OnStopBinding(code, text);
    return code;
  };

  // Never through a symbolic link planted at the name: callers delete the
  // old file first, so a link here is not ours to follow.
  FileDescriptor file(
      ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (file.get() < 0)
    return stop(INET_E_CANNOT_WRITE_FILE,
                "cannot create " + fileName + ": " + std::strerror(errno));
  bool keepFile = false;
  struct RemoveUnlessKept {
    const std::string &name;
    const bool &keep;
    ~RemoveUnlessKept() {
      if (!keep)
        ::unlink(name.c_str());
    }
  } removeGuard{fileName, keepFile};

  Transfer transfer;
  transfer.fd = file.get();
  transfer.callback = callback;
  transfer.url = &url;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  HeaderList headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
  if (headers)
    curl_slist_append(headers.get(), "Pragma: no-cache");
  MultiHandle multi(curl_multi_init());
  EasyHandle easy(curl_easy_init());
  if (!multi || !easy || !headers)
    return stop(INET_E_DOWNLOAD_FAILURE, "out of memory");

  CURL *h = easy.get();
  transfer.easy = h;
  curl_easy_setopt(h, CURLOPT_URL, requestUrl.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits.MaxRedirects);
  curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limits.ConnectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, limits.LowSpeedBytes);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, limits.LowSpeedSeconds);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kBufferSize);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Mirel-Downloader/1.0");

  MultiMembership membership(multi.get(), h);
  if (!membership.added())
    return stop(INET_E_DOWNLOAD_FAILURE, "cannot start the transfer");

  int running = 1;
  while (running && !transfer.aborted) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK || !running || transfer.aborted)
      break;
    if (!transfer.notifyIfDue())
      break;
    // Short waits, so the callback (and with it the window's message pump)
    // runs often even while nothing arrives, e.g. during a slow connect.
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Transfer::Clock::now() -
                                                                        transfer.lastNotify)
                      .count();
    int timeout =
        static_cast<int>(std::max<long>(1, kNotifyIntervalMs - static_cast<long>(waited)));
    curl_multi_poll(multi.get(), nullptr, 0, timeout, nullptr);
  }
  if (transfer.aborted)
    return stop(E_ABORT, transfer.abortText());

  CURLcode rc = CURLE_RECV_ERROR;
  int pending = 0;
  while (CURLMsg *msg = curl_multi_info_read(multi.get(), &pending)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == h)
      rc = msg->data.result;
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);

  if (rc != CURLE_OK) {
    std::string text;
    if (rc == CURLE_HTTP_RETURNED_ERROR)
      text = "HTTP status " + std::to_string(status);
    else if (rc == CURLE_WRITE_ERROR && transfer.writeErrno != 0)
      text = "cannot write " + fileName + ": " + std::strerror(transfer.writeErrno);
    else
      text = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc);
    return stop(codeFor(rc, status), text);
  }
  // An answer that is not a success (an error page the server sent anyway, a
  // redirect without a target) is not the resource that was asked for.
  if (status < 200 || status >= 300)
    return stop(status >= 400 ? codeFor(CURLE_HTTP_RETURNED_ERROR, status)
                              : INET_E_DOWNLOAD_FAILURE,
                "HTTP status " + std::to_string(status));
  if (!file.close())
    return stop(INET_E_CANNOT_WRITE_FILE, "cannot write " + fileName + ": " + std::strerror(errno));

  if (!transfer.notify())
    return stop(E_ABORT, transfer.abortText());
  keepFile = true;
  return stop(S_OK, {});
}

} // namespace mirel
