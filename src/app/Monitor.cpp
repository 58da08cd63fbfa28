#include "Monitor.h"

#include "engine/Helpers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace mirel {

namespace {

// Deletes everything up to and including the marker plus `extra` characters
// (nothing when the marker is absent: the position is then 0).
void DeleteThrough(std::string &text, const char *marker, size_t extra) {
  const size_t p = text.find(marker);
  const size_t cut = (p == std::string::npos ? 0 : p + 1) + extra;
  text.erase(0, std::min(cut, text.size()));
}

// The characters before the first space; empty when there is none.
std::string Token(const std::string &text) {
  const size_t space = text.find(' ');
  return space == std::string::npos ? std::string() : text.substr(0, space);
}

bool Usable(const std::string &token) {
  return !token.empty() && token != "?" && token != " ";
}

// "%3.1f%%" with "." as decimal mark whatever the C locale says (the
// window runs under the user's locale, the texts are fixed).
std::string PercentText(double value) {
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 1);
  std::string text(buf, result.ptr);
  if (text.size() < 3)
    text.insert(0, 3 - text.size(), ' ');
  return text + "%";
}

} // namespace

bool FallbackDue(int &progressState, uint32_t now, uint32_t startTick, int32_t waitTimeSeconds) {
  bool result = progressState == 2;
  if (progressState == 0) {
    const uint32_t elapsed = now - startTick;
    const uint32_t budget = static_cast<uint32_t>(waitTimeSeconds) * 1000u;
    result = elapsed > budget;
    if (result)
      progressState = 2;
  }
  return result;
}

bool ApplyStatusTitle(const std::string &title, TDownload &slot, int64_t totalLength,
                      int &progressState, IMonitorDisplay &display) {
  if (title.find("ZUL! Initializing") != std::string::npos)
    return false;
  std::string t = title;

  // Each step removes the marker (and the character after " @" and " |"):
  // " Up: " leaves the uploaded amount at the front, and so on.
  DeleteThrough(t, " Up: ", 4);
  if (const std::string token = Token(t); Usable(token))
    slot.UploadedMB = ParseLenientFloat(token);
  DeleteThrough(t, " @", 2);
  if (const std::string token = Token(t); Usable(token))
    slot.UploadRate = ParseLenientFloat(token);
  DeleteThrough(t, " Down: ", 6);
  if (const std::string token = Token(t); Usable(token)) {
    slot.DownloadedMB = ParseLenientFloat(token);
    display.SetDownText(token + " MB");
  }
  DeleteThrough(t, " @", 2);
  if (const std::string token = Token(t); Usable(token)) {
    slot.DownloadRate = ParseLenientFloat(token);
    display.SetSpeedText(token + " KB/S");
  }
  DeleteThrough(t, " |", 2);
  const std::string &activity = t;

  bool complete = false;
  const double rate = slot.DownloadRate / 1024;
  if (rate > 0) {
    const double totalMB = static_cast<double>(slot.TotalLength) / 1048576;
    double remaining = totalMB - (slot.DownloadedMB + slot.DownloadBaseMB);
    std::string pctText = activity.size() > 10 ? activity.substr(10) : std::string();
    if (const size_t percent = pctText.find('%'); percent != std::string::npos)
      pctText.erase(percent, 1);
    try {
      const double pct = ParseLocaleFloat(pctText);
      const double estimate = totalMB - pct * static_cast<double>(slot.TotalLength) / 104857600.0;
      if (!(estimate >= remaining))
        remaining = estimate;
    } catch (const EConvertError &) {
      // No percentage: the downloaded amount alone counts.
    }
    const double wanted = std::nearbyint(static_cast<double>(totalLength) - remaining * 1048576.0);
    const int64_t position = display.SetProgressBytes(
        std::isfinite(wanted) ? static_cast<int64_t>(std::clamp(wanted, -9.0e18, 9.0e18)) : 0);
    const int64_t total = display.ProgressTotal();
    const double pctShown =
        total > 0 ? static_cast<double>(position) / static_cast<double>(total) * 100 : 0.0;
    display.SetPercentText(PercentText(pctShown));
    char status[128];
    std::snprintf(status, sizeof status, "총 %lld MB / %lld MB 를 받았습니다.",
                  static_cast<long long>(position / 1048576),
                  static_cast<long long>(totalLength / 1048576));
    display.SetStatusText(status);
    if (position > 0)
      progressState = 1;
    if (remaining > 0)
      display.SetRemainText(SecondsToText(true, remaining / rate));
    else
      display.SetRemainText("계산 중");
  } else if (slot.SeedingSeen) {
    complete = true;
  } else {
    display.SetRemainText("-");
  }
  if (activity.find("eeding") != std::string::npos)
    slot.SeedingSeen = true;
  return complete;
}

void ShowCompletionTexts(IMonitorDisplay &display) {
  display.SetRemainText("완료");
  display.SetStatusText("전송이 완료되었습니다. 설치 시작 버튼을 누르세요.");
  display.SetRemainText("-");
  display.SetDownText("-");
  display.SetSpeedText("-");
}

} // namespace mirel
