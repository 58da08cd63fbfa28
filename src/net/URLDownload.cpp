#include "URLDownload.h"

#include "URLHelpers.h"
#include "platform/MessagePump.h"
#include "platform/TickCount.h"

#include <charconv>
#include <limits>

namespace mirel {

namespace {

// Fixed-point text with a full stop whatever the process locale says.
std::string fixedText(double value, int decimals) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (res.ec != std::errc())
    return "0";
  return std::string(buf, res.ptr);
}

// The platform counts in 64 bits; the display works in 32, so a larger
// figure stays at the top instead of wrapping round to a small one.
uint32_t clamp32(uint64_t v) {
  return v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                  : static_cast<uint32_t>(v);
}

// " 05 분": a blank, at least two digits, a blank, the unit.
void appendPart(std::string &out, int64_t value, const char *unit) {
  out += ' ';
  if (value < 10)
    out += '0';
  out += std::to_string(value);
  out += ' ';
  out += unit;
}

} // namespace

uint32_t TURLDownload::now() const {
  return Tick ? Tick() : GetTickCount();
}

bool TURLDownload::Fetch(const std::string &fileName) {
  AbortRequested = false;
  ForceDeleteFile(fileName);
  PurgeURLCache(URL);
  URLDownloadToFile(URL, fileName, this, Limits);
  FileName = fileName;
  return !AbortRequested && StatusText.empty() && Started;
}

void TURLDownload::OnStartBinding() {
  Started = true;
  if (OnFetchBegin) {
    OnFetchBegin(*this, URL);
  } else {
    LastBytes = 0;
    LastTick = 0;
  }
}

bool TURLDownload::OnProgress(uint64_t received, uint64_t total, const std::string &statusText) {
  // Read before the pump: a close handled inside it counts from the next call.
  bool cancel = Closing != nullptr && *Closing;
  if (OnBytesReceived)
    OnBytesReceived(received);
  ShowProgress(clamp32(received), clamp32(total), statusText, cancel);
  ProcessMessages();
  return !(cancel || AbortRequested);
}

void TURLDownload::OnStopBinding(int32_t /*result*/, const std::string &errorText) {
  StatusText = errorText;
  if (OnFetchEnd)
    OnFetchEnd(*this);
}

void TURLDownload::ShowProgress(uint32_t bytes, uint32_t total, const std::string &statusText,
                                bool &cancel) {
  if (OnFetchProgress) {
    OnFetchProgress(*this, bytes, total, statusText, cancel);
    return;
  }
  int64_t remaining = 0;
  const uint32_t tick = now();
  if (static_cast<uint32_t>(tick - LastTick) <= 1000)
    return;
  if (bytes == 0) {
    LastBytes = 0;
    LastTick = now();
    return;
  }
  // A count below the last one cannot come from the service; read it as no
  // progress rather than as four gigabytes.
  const uint32_t kilobytes = bytes >= LastBytes ? (bytes - LastBytes) >> 10 : 0;
  const uint32_t seconds = static_cast<uint32_t>(tick - LastTick) / 1000;
  const double speed = static_cast<double>(kilobytes) / seconds;
  if (Display) {
    Display->SetSpeedText(fixedText(speed, 2) + " KB/S");
    Display->SetDownText(std::to_string(bytes >> 20) + " MB");
    Display->SetGaugePosition(bytes);
    // With no announced length there is nothing to measure against: the
    // percentage and the remaining time keep what they show. A server that
    // sends more than it announced is at 100% with nothing left.
    if (total > 0) {
      double percent = bytes >= total ? 100.0 : static_cast<double>(bytes) / total * 100.0;
      std::string text = fixedText(percent, 1);
      if (text.size() < 3)
        text.insert(0, 3 - text.size(), ' ');
      Display->SetPercentText(text + "%");
      if (speed > 0 && total > bytes)
        remaining = static_cast<int64_t>(static_cast<double>(total - bytes) / 1024.0 / speed);
      Display->SetRemainText(RemainTimeText(remaining));
    }
  }
  LastBytes = bytes;
  LastTick = now();
}

std::string TURLDownload::RemainTimeText(int64_t seconds) {
  std::string result;
  int64_t s = seconds;
  if (s >= 3600) {
    appendPart(result, s / 3600, "시간");
    s %= 3600;
  }
  if (s >= 60) {
    appendPart(result, s / 60, "분");
    s %= 60;
  } else {
    appendPart(result, 0, "분");
  }
  appendPart(result, s >= 1 ? s : 0, "초");
  return result;
}

} // namespace mirel
