#pragma once

#include "platform/URLDownloadToFile.h"

#include <cstdint>
#include <functional>
#include <string>

namespace mirel {

// Where a progress fetch shows its figures; the main window implements it
// with its labels and progress bar.
class IFetchDisplay {
public:
  virtual ~IFetchDisplay() = default;
  virtual void SetSpeedText(const std::string &text) = 0;   // lbSpeed
  virtual void SetDownText(const std::string &text) = 0;    // lbDown
  virtual void SetGaugePosition(uint32_t bytes) = 0;        // Gauge1
  virtual void SetPercentText(const std::string &text) = 0; // lblPercentage
  virtual void SetRemainText(const std::string &text) = 0;  // lbRemain
};

// One blocking HTTP fetch with a progress display. While it runs it pumps the
// window's messages at every notification and aborts when the window is
// closing. One object serves one fetch.
class TURLDownload : public IBindStatusCallback {
public:
  using TFetchBeginEvent = std::function<void(TURLDownload &sender, const std::string &url)>;
  using TFetchEndEvent = std::function<void(TURLDownload &sender)>;
  using TFetchProgressEvent =
      std::function<void(TURLDownload &sender, uint32_t bytes, uint32_t total,
                         const std::string &statusText, bool &cancel)>;

  std::string URL;
  bool AbortRequested = false;
  TFetchBeginEvent OnFetchBegin;
  TFetchEndEvent OnFetchEnd;
  TFetchProgressEvent OnFetchProgress;
  // Called at every progress notification, before the display, with the
  // count of bytes written to the file so far (not clamped to 32 bits); lets
  // a reader follow the file while it arrives.
  std::function<void(uint64_t received)> OnBytesReceived;
  std::string FileName;
  std::string StatusText;
  bool Started = false;
  uint32_t LastBytes = 0;
  uint32_t LastTick = 0;

  // What the fetch works with: the display (none shows nothing), the
  // window's closing flag (none never closes), the tick source (the system's
  // tick count when empty) and the service's time-outs.
  IFetchDisplay *Display = nullptr;
  const bool *Closing = nullptr;
  std::function<uint32_t()> Tick;
  URLDownloadLimits Limits;

  // Fetches URL (unescaped) into the file, replacing it. True when the
  // transfer started, was not aborted and ended without an error.
  bool Fetch(const std::string &fileName);

  // The built-in display, at most one update per 1001 ms.
  void ShowProgress(uint32_t bytes, uint32_t total, const std::string &statusText, bool &cancel);

  // " 01 시간 02 분 05 초" style text; below one minute " 00 분 .. 초".
  static std::string RemainTimeText(int64_t seconds);

  void OnStartBinding() override;
  bool OnProgress(uint64_t received, uint64_t total, const std::string &statusText) override;
  void OnStopBinding(int32_t result, const std::string &errorText) override;

private:
  uint32_t now() const;
};

} // namespace mirel
