#pragma once

#include "headless.h"
#include "platform/KeyMap.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace mirel {

class TTorrentFile;

// What the engine slots need of the main window, which implements it.
class TEngineHost {
public:
  virtual ~TEngineHost() = default;
  // The engine folder, with its trailing "/".
  virtual std::string EngineFolder() const = 0;
  virtual std::string EngineExeName() const = 0;
  // Engines start with their console shown ("-console").
  virtual bool ShowEngineConsole() const = 0;
  // 0 no progress yet, 1 engine progress seen, 2 HTTP fallback chosen.
  virtual int ProgressState() const = 0;
  // Disables the monitor timer.
  virtual void StopMonitor() = 0;
  // A modal message box with the error icon and an OK button.
  virtual void ErrorBox(const std::string &caption, const std::string &text) = 0;
  // Asks the application to end, without the close handling.
  virtual void EndApplication() = 0;
  // The window for each engine console; none: consoles have no window.
  virtual ConsoleViewFactory ConsoleViews() const { return {}; }
};

// The engine settings; set when the window is created, never changed after.
struct TEngineSettings {
  int MaxUploads = 10;
  int MinUploads = 3;
  int MaxUploadRate = 200; // kB/s
  bool UploadRateUnlimited = true;
  int MinPort = 6881;
  int MaxPort = 6999;
  int DisplayInterval = 1; // seconds
};

// One transfer slot.
struct TDownload {
  std::string MetainfoFile; // without quotes
  std::string SaveAs;
  bool Active = false;
  bool SeedingSeen = false;
  bool Exited = false;
  bool Stopped = false;
  std::unique_ptr<THeadlessDownloader> Engine;
  double UploadedMB = 0;
  double DownloadedMB = 0;
  double UploadBaseMB = 0;
  double DownloadBaseMB = 0;
  double UploadRate = 0;
  double DownloadRate = 0;
  std::string Announce;
  std::int64_t TotalLength = 0;
};

inline constexpr int SlotCount = 20;

// Drops a leading double quote and the last character; texts of two
// characters or fewer become empty.
std::string StripQuotes(const std::string &text);

// The engine's options, exactly as its command line carries them.
std::string EngineOptionsText(const TEngineSettings &settings, const std::string &metainfoFile,
                              const std::string &saveAs, bool skipHashCheck);

// The engine settings and the twenty transfer slots of the main window, with
// the operations that start, show and stop engines.
class TTransferSlots {
public:
  explicit TTransferSlots(TEngineHost &host) : Host(host) {}
  // Stops every engine still held.
  ~TTransferSlots();
  TTransferSlots(const TTransferSlots &) = delete;
  TTransferSlots &operator=(const TTransferSlots &) = delete;

  // Default settings and twenty empty slots (window creation).
  void Reset();

  // Checks the disk space, launches the engine and files it into the lowest
  // free slot. False exactly when the application was asked to end for lack
  // of disk space. An engine that finds no slot is stopped again.
  bool StartTransfer(const std::string &metainfoPath, const std::string &targetPath,
                     const TTorrentFile *metainfo);
  // Starts an engine for the metainfo file; R.Active tells whether it runs.
  void LaunchEngine(const std::string &metainfoFile, const std::string &saveAs, bool skipHashCheck,
                    double uploadBaseMB, double downloadBaseMB, TDownload &R);
  // Stops the slot's engine (index 0..19, or -1 for all) and frees the slot.
  void ReleaseSlot(int index);
  // Stops every engine; slots stay marked active, so a second call does nothing.
  void StopAllEngines();
  // Shows or hides the console of the highest active, not exited slot.
  void SetConsoleVisible(bool visible);
  // The window's key handler: Ctrl+Alt+Shift+V shows, +H hides the console.
  void FormKeyDown(std::uint16_t key, TShiftState shift);

  TEngineSettings Settings;
  std::array<TDownload, SlotCount> Slots;
  // How engines are hosted (the quit bound, for instance); the console
  // windows come from the host.
  HeadlessOptions EngineHosting;

private:
  TEngineHost &Host;
};

} // namespace mirel
