#pragma once

#include "Monitor.h"
#include "engine/TransferSlots.h"
#include "net/URLDownload.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QProgressBar;
class QTimer;

namespace mirel {

class TTorrentFile;
class TfMain;

// The main window as the engine slots see it.
class TEngineHostBridge : public TEngineHost {
public:
  explicit TEngineHostBridge(TfMain &window) : Window(window) {}
  std::string EngineFolder() const override;
  std::string EngineExeName() const override;
  bool ShowEngineConsole() const override;
  int ProgressState() const override;
  void StopMonitor() override;
  void ErrorBox(const std::string &caption, const std::string &text) override;
  void EndApplication() override;
  ConsoleViewFactory ConsoleViews() const override;

private:
  TfMain &Window;
};

// The push button with an integer tag (the completion mark lives there).
class TdxButton : public QPushButton {
public:
  using QPushButton::QPushButton;
  int Tag = 0;
};

// The background picture: presses on it start moving the window.
class TBackgroundImage : public QLabel {
public:
  using QLabel::QLabel;
  std::function<void(QMouseEvent *)> OnMouseDown;
  std::function<void(QMouseEvent *)> OnMouseMove;

protected:
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
};

// Sets a transparent label's text and sizes the label to it.
void SetLabelText(QLabel *label, const QString &text);

// The downloader's only window: owns the run's paths, the loaded metainfo and
// everything else a download run needs, and drives the run from its handlers
// and two timers.
class TfMain : public QWidget, public IFetchDisplay, public IMonitorDisplay {
public:
  struct Options {
    std::string ServerBaseUrl; // ends in "/"
    std::string OwnFolder;     // where the setup file is copied; with "/"
    bool ShowEngineConsole = false;
  };

  explicit TfMain(Options options);
  ~TfMain() override;
  TfMain(const TfMain &) = delete;
  TfMain &operator=(const TfMain &) = delete;

  // Controls, named as in the layout.
  TBackgroundImage *imgBK = nullptr;
  QLabel *imgAppIcon = nullptr;
  QLabel *lblCaption = nullptr;
  QLabel *lbTranDes = nullptr;
  QProgressBar *Gauge1 = nullptr;
  QLabel *lblPercentage = nullptr;
  QLabel *Label9 = nullptr;
  QLabel *lbSpeed = nullptr;
  QLabel *Label6 = nullptr;
  QLabel *lbRemain = nullptr;
  TdxButton *btnCancel = nullptr;
  QLabel *Label7 = nullptr;
  QLabel *lbDown = nullptr;
  QTimer *timerUpdateMonitor = nullptr;
  QTimer *timerAutoExit = nullptr;

  // Names derived in FormCreate.
  std::string EngineFolderName;
  std::string EngineExeName;
  std::string ServerBaseUrl;
  std::string MetainfoFileName;
  std::string SetupFileName;
  int WaitTimeSeconds = 10;
  uint32_t StartTick = 0;
  int ProgressState = 0; // 0 no progress yet, 1 engine progress seen, 2 HTTP fallback
  bool EnginesStopped = false;
  bool Closing = false;

  // Run state.
  bool ActivatedOnce = false;
  std::string WorkFolder;
  std::string EngineFolder;
  std::string MetainfoPath;
  std::string TargetPath;
  bool LaunchSetup = false;
  std::unique_ptr<TTorrentFile> Metainfo;

  // Engine settings and the twenty transfer slots.
  TEngineHostBridge EngineHost{*this};
  TTransferSlots Engines{EngineHost};

  const Options &Settings() const { return Options_; }

  // Handlers.
  void FormCreate();
  void FormActivate();
  void btnCancelClick();
  void timerAutoExitTimer();
  void imgBKMouseDown(QMouseEvent *event);
  void FormKeyDown(int key, Qt::KeyboardModifiers shift);
  void FormClose();
  void timerUpdateMonitorTimer();

  void CompleteDownloadCallback();
  bool LoadMetainfo(const std::string &path);
  int ReadWaitTime();
  std::string ReadDownloadURL(const std::string &productId);
  void CompletionDisplay();
  // A modal message box with an OK button.
  void MessageBox(const std::string &text, const std::string &caption, QMessageBox::Icon icon);

  // The displays of the HTTP fetch and of the monitor.
  void SetSpeedText(const std::string &text) override;
  void SetDownText(const std::string &text) override;
  void SetGaugePosition(uint32_t bytes) override;
  void SetPercentText(const std::string &text) override;
  void SetRemainText(const std::string &text) override;
  void SetStatusText(const std::string &text) override;
  int64_t SetProgressBytes(int64_t bytes) override;
  int64_t ProgressTotal() const override { return GaugeTotal_; }
  // The bar's range for a total in bytes; totals past the bar's 32-bit range
  // are scaled down, and a total of 0 still gives a usable range.
  void SetGaugeTotal(int64_t totalBytes);
  bool WriteBundleEntry(const std::string &name, const std::string &type, const std::string &path);
  void CleanUpEngineFolder();

  // Ends the downloader without the close handling: the message loop stops
  // the next time it runs (also when it has not started yet).
  void EndDownloader();
  bool EndRequested() const { return EndRequested_; }
  // Told when the downloader is to end; the entry stops the message loop.
  std::function<void()> OnEndRequested;
  // How often the close handling ran (it must run once).
  int CloseCount() const { return CloseCount_; }
  // How many HTTP fallback fetches were tried.
  int FallbackAttempts() const { return FallbackAttempts_; }

protected:
  void showEvent(QShowEvent *event) override;
  void changeEvent(QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

private:
  void BuildLayout();
  bool RunFallback();
  bool RunEngineSlots();
  void QueueActivation();
  void Repaint();

  Options Options_;
  bool EndRequested_ = false;
  bool ActivationQueued_ = false;
  bool Closed_ = false;
  int CloseCount_ = 0;
  int FallbackAttempts_ = 0;
  const QKeyEvent *PreviewedKey_ = nullptr;
  QPoint DragOffset_;
  bool Dragging_ = false;
  int64_t GaugeTotal_ = 0;
  int GaugeShift_ = 0;
};

} // namespace mirel
