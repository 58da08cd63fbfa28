#include "TransferSlots.h"

#include "Helpers.h"
#include "metainfo/Streams.h"
#include "metainfo/TorrentFile.h"

#include <cstdio>

namespace mirel {

std::string StripQuotes(const std::string &text) {
  if (text.size() <= 2)
    return {};
  if (text.front() == '"')
    return text.substr(1, text.size() - 2);
  return text;
}

std::string EngineOptionsText(const TEngineSettings &s, const std::string &metainfoFile,
                              const std::string &saveAs, bool skipHashCheck) {
  std::string o = "--responsefile \"" + metainfoFile + "\" --saveas \"" + saveAs + "\"";
  if (skipHashCheck)
    o += " --check_hashes 0";
  o += " --max_uploads " + std::to_string(s.MaxUploads);
  o += " --min_uploads " + std::to_string(s.MinUploads);
  if (s.MinPort != 6881)
    o += " --minport " + std::to_string(s.MinPort);
  if (s.MaxPort != 6999)
    o += " --maxport " + std::to_string(s.MaxPort);
  if (!s.UploadRateUnlimited)
    o += " --max_upload_rate " + std::to_string(s.MaxUploadRate);
  o += " --display_interval " + std::to_string(s.DisplayInterval);
  return o;
}

TTransferSlots::~TTransferSlots() {
  for (auto &slot : Slots) {
    auto engine = std::move(slot.Engine);
    engine.reset();
  }
}

void TTransferSlots::Reset() {
  Settings = TEngineSettings{};
  for (auto &slot : Slots) {
    auto engine = std::move(slot.Engine);
    slot = TDownload{};
    engine.reset();
  }
}

bool TTransferSlots::StartTransfer(const std::string &metainfoPath, const std::string &targetPath,
                                   const TTorrentFile *metainfo) {
  if (!metainfo)
    return true;
  if (!HasDiskSpace(targetPath, metainfo->TotalLength)) {
    Host.ErrorBox("경고", "디스크 공간이 부족합니다. 프로그램을 종료합니다.");
    Host.EndApplication();
    return false;
  }
  const std::string name = StripQuotes(metainfoPath);
  TDownload R;
  LaunchEngine(name, targetPath, false, 0, 0, R);

  int freeSlot = -1;
  for (int i = SlotCount - 1; i >= 0; --i) {
    if (Slots[i].Active) {
      if (Slots[i].MetainfoFile == name)
        return true; // already transferred; R's engine is stopped on leaving
    } else {
      freeSlot = i;
    }
  }
  if (R.Active && freeSlot >= 0)
    Slots[freeSlot] = std::move(R);
  // Without a free slot R's engine is stopped here rather than left running.
  return true;
}

void TTransferSlots::LaunchEngine(const std::string &metainfoFile, const std::string &saveAs,
                                  bool skipHashCheck, double uploadBaseMB, double downloadBaseMB,
                                  TDownload &R) {
  R.Active = false;
  auto torrent = std::make_unique<TTorrentFile>();
  try {
    TFileStream stream(metainfoFile);
    if (!torrent->LoadFromStream(stream))
      return;
  } catch (...) {
    return;
  }

  const std::string exeName = Host.EngineExeName();
  const std::string exePath = Host.EngineFolder() + exeName;
  const auto failed = [&] {
    char text[1024];
    std::snprintf(text, sizeof text, "%s 를 실행하는데 오류가 발생했습니다.", exeName.c_str());
    Host.ErrorBox("오류", text);
  };
  // A double quote inside a path would end its quoted argument early and
  // hand the engine a different command line: refuse before starting.
  for (const std::string *path : {&metainfoFile, &saveAs, &exePath}) {
    if (path->find('"') != std::string::npos) {
      failed();
      return;
    }
  }

  HeadlessOptions hosting = EngineHosting;
  if (!hosting.MakeView)
    hosting.MakeView = Host.ConsoleViews();
  auto engine = std::make_unique<THeadlessDownloader>(
      metainfoFile, "\"" + exePath + "\"",
      EngineOptionsText(Settings, metainfoFile, saveAs, skipHashCheck), !Host.ShowEngineConsole(),
      std::move(hosting));
  if (!engine->Running()) {
    failed();
    return;
  }
  R.Active = true;
  R.SeedingSeen = R.Exited = R.Stopped = false;
  R.MetainfoFile = metainfoFile;
  R.SaveAs = saveAs;
  R.UploadBaseMB = uploadBaseMB;
  R.DownloadBaseMB = downloadBaseMB;
  R.UploadedMB = R.DownloadedMB = R.UploadRate = R.DownloadRate = 0;
  R.Announce = torrent->Announce;
  R.TotalLength = torrent->TotalLength;
  R.Engine = std::move(engine);
}

void TTransferSlots::ReleaseSlot(int index) {
  for (int i = 0; i < SlotCount; ++i) {
    if (index != -1 && index != i)
      continue;
    TDownload &slot = Slots[i];
    if (!slot.Engine)
      continue;
    slot.Exited = true;
    slot.Stopped = true;
    // Give up the reference first: stopping pumps messages, and a re-entrant
    // stop must not reach this engine again.
    auto engine = std::move(slot.Engine);
    slot.Active = false;
    engine.reset();
  }
}

void TTransferSlots::StopAllEngines() {
  Host.StopMonitor();
  for (auto &slot : Slots) {
    if (!slot.Active || !slot.Engine)
      continue;
    auto engine = std::move(slot.Engine);
    engine.reset();
    slot.Stopped = true;
  }
}

void TTransferSlots::SetConsoleVisible(bool visible) {
  for (int i = SlotCount - 1; i >= 0; --i) {
    TDownload &slot = Slots[i];
    if (!slot.Active || slot.Exited)
      continue;
    // After StopAllEngines a slot stays active without an engine.
    if (slot.Engine) {
      if (visible)
        slot.Engine->ShowConsole();
      else
        slot.Engine->HideConsole();
    }
    return;
  }
}

void TTransferSlots::FormKeyDown(std::uint16_t key, TShiftState shift) {
  if (Host.ProgressState() == 2)
    return;
  if ((shift & (ssCtrl | ssAlt | ssShift)) != (ssCtrl | ssAlt | ssShift))
    return;
  if (key == 'V')
    SetConsoleVisible(true);
  else if (key == 'H')
    SetConsoleVisible(false);
}

} // namespace mirel
