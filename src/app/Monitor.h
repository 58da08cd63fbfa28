#pragma once

#include "engine/TransferSlots.h"

#include <cstdint>
#include <string>

namespace mirel {

// Where the progress monitor writes; the main window implements it with its
// labels and progress bar. Texts are UTF-8.
class IMonitorDisplay {
public:
  virtual ~IMonitorDisplay() = default;
  virtual void SetStatusText(const std::string &text) = 0;  // lbTranDes
  virtual void SetRemainText(const std::string &text) = 0;  // lbRemain
  virtual void SetDownText(const std::string &text) = 0;    // lbDown
  virtual void SetSpeedText(const std::string &text) = 0;   // lbSpeed
  virtual void SetPercentText(const std::string &text) = 0; // lblPercentage
  // Moves the bar to a byte position; returns the position it now shows, in
  // bytes (kept within 0 and the total length).
  virtual int64_t SetProgressBytes(int64_t bytes) = 0;
  // The bar's total in bytes.
  virtual int64_t ProgressTotal() const = 0;
};

// True when the HTTP fallback is due: already chosen (state 2), or no
// progress yet (state 0) and more than the waiting time has passed since
// startTick, all in unsigned 32-bit milliseconds (a negative waiting time is
// huge). Sets the state to 2 when it chooses the fallback.
bool FallbackDue(int &progressState, uint32_t now, uint32_t startTick, int32_t waitTimeSeconds);

// Reads one status title into the slot's figures and the display; sets the
// progress state to 1 once the bar moved. Returns true when the transfer is
// complete (the slot had reported seeding and the download rate is not
// positive): the caller then shows the completion display.
bool ApplyStatusTitle(const std::string &title, TDownload &slot, int64_t totalLength,
                      int &progressState, IMonitorDisplay &display);

// The completion texts, in their order; the caller adds the button, the
// completion mark, the timers and the pump.
void ShowCompletionTexts(IMonitorDisplay &display);

} // namespace mirel
