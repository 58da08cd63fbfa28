#include "uMain.h"

#include "Bundle.h"
#include "Completion.h"
#include "Identity.h"
#include "SetupFile.h"
#include "metainfo/TorrentFile.h"
#include "net/ServerConfig.h"
#include "net/URLHelpers.h"
#include "platform/ConsoleWindow.h"
#include "platform/MessagePump.h"
#include "platform/TickCount.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <climits>
#include <sys/stat.h>

namespace mirel {

void TBackgroundImage::mousePressEvent(QMouseEvent *event) {
  if (OnMouseDown)
    OnMouseDown(event);
}

void TBackgroundImage::mouseMoveEvent(QMouseEvent *event) {
  if (OnMouseMove)
    OnMouseMove(event);
}

void SetLabelText(QLabel *label, const QString &text) {
  label->setText(text);
  label->adjustSize();
}

namespace {

QLabel *MakeLabel(QWidget *parent, int left, int top, const QString &text) {
  auto *label = new QLabel(parent);
  label->move(left, top);
  label->setAttribute(Qt::WA_TranslucentBackground);
  SetLabelText(label, text);
  return label;
}

} // namespace

TfMain::TfMain(Options options) : Options_(std::move(options)) {
  InitAppResources();
  // Blocking work (fetches, stopping engines) keeps the window alive.
  SetMessagePump([] { QCoreApplication::processEvents(); });
  BuildLayout();
  FormCreate();
}

TfMain::~TfMain() {
  // Engines are stopped by the close handling; one still held (the window
  // went away without a close) is stopped here, before the widgets go.
  Engines.StopAllEngines();
  SetMessagePump({});
}

void TfMain::BuildLayout() {
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setObjectName(QStringLiteral("fMain"));
  resize(381, 252);

  QFont font;
  font.setFamilies({QStringLiteral("Gulim"), QStringLiteral("NanumGothic")});
  font.setPixelSize(12);
  setFont(font);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);
  setWindowIcon(QIcon(QStringLiteral(":/art/appicon.png")));

  imgBK = new TBackgroundImage(this);
  imgBK->setObjectName(QStringLiteral("imgBK"));
  const QPixmap background(QStringLiteral(":/art/background.jpg"));
  imgBK->setPixmap(background);
  imgBK->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  imgBK->setGeometry(0, 0, width(), background.isNull() ? 170 : background.height());
  imgBK->OnMouseDown = [this](QMouseEvent *event) { imgBKMouseDown(event); };
  imgBK->OnMouseMove = [this](QMouseEvent *event) {
    if (Dragging_ && (event->buttons() != Qt::NoButton))
      move(event->globalPosition().toPoint() - DragOffset_);
  };

  imgAppIcon = new QLabel(this);
  imgAppIcon->setObjectName(QStringLiteral("imgAppIcon"));
  const QPixmap icon(QStringLiteral(":/art/appicon.png"));
  imgAppIcon->setPixmap(icon);
  imgAppIcon->setGeometry(6, 6, 17, 17);

  lblCaption = MakeLabel(this, 27, 9, QString());
  QPalette white = lblCaption->palette();
  white.setColor(QPalette::WindowText, Qt::white);
  lblCaption->setPalette(white);
  lbTranDes = MakeLabel(this, 29, 52,
                        QStringLiteral("파일 전송 작업을 준비중입니다. 잠시만 기다려 주세요."));

  Gauge1 = new QProgressBar(this);
  Gauge1->setOrientation(Qt::Horizontal);
  Gauge1->setGeometry(29, 85, 288, 11);
  Gauge1->setRange(0, 100);
  Gauge1->setValue(0);
  Gauge1->setTextVisible(false);

  lblPercentage = MakeLabel(this, 322, 84, QStringLiteral("0%"));
  Label9 = MakeLabel(this, 30, 105, QStringLiteral("전송속도:"));
  lbSpeed = MakeLabel(this, 88, 105, QStringLiteral("0.00"));
  Label6 = MakeLabel(this, 193, 105, QStringLiteral("남은시간:"));
  lbRemain = MakeLabel(this, 250, 105, QStringLiteral("00:00:00"));

  btnCancel = new TdxButton(QStringLiteral("취소"), this);
  btnCancel->setGeometry(293, 136, 76, 25);
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  setTabOrder(btnCancel, Gauge1);

  Label7 = MakeLabel(this, 200, 194, QStringLiteral("받음 : "));
  lbDown = MakeLabel(this, 239, 194, QStringLiteral("0.00"));

  const std::pair<QWidget *, const char *> names[] = {
      {lblCaption, "lblCaption"}, {lbTranDes, "lbTranDes"},
      {Gauge1, "Gauge1"},         {lblPercentage, "lblPercentage"},
      {Label9, "Label9"},         {lbSpeed, "lbSpeed"},
      {Label6, "Label6"},         {lbRemain, "lbRemain"},
      {btnCancel, "btnCancel"},   {Label7, "Label7"},
      {lbDown, "lbDown"}};
  for (const auto &[widget, name] : names) {
    widget->setObjectName(QLatin1String(name));
    // Keys reach the window's key handler before the focused control.
    widget->installEventFilter(this);
  }

  timerUpdateMonitor = new QTimer(this);
  timerUpdateMonitor->setInterval(2000);
  // A coarse timer may fire up to 5% early; the first tick would then come
  // just before the waiting time is over and the fallback a whole period late.
  timerUpdateMonitor->setTimerType(Qt::PreciseTimer);
  connect(timerUpdateMonitor, &QTimer::timeout, this, [this] { timerUpdateMonitorTimer(); });
  timerAutoExit = new QTimer(this);
  timerAutoExit->setInterval(100);
  connect(timerAutoExit, &QTimer::timeout, this, [this] { timerAutoExitTimer(); });

  // Centred on the screen.
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TfMain::Repaint() {
  // The preparation runs without the message loop; paint now so the bar moves.
  repaint();
}

void TfMain::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  // A window manager that never focuses the window must not stop the run:
  // the first show counts as the first activation.
  QueueActivation();
}

void TfMain::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    QueueActivation();
}

void TfMain::QueueActivation() {
  // Run the handler from the event loop, not from inside the show or
  // activation event, so modal message boxes of the preparation are safe.
  if (ActivationQueued_)
    return;
  ActivationQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    ActivationQueued_ = false;
    FormActivate();
  });
}

void TfMain::btnCancelClick() {
  if (!btnCancel->isEnabled())
    return;
  timerUpdateMonitor->stop();
  btnCancel->setEnabled(false);
  close();
}

void TfMain::timerAutoExitTimer() {
  timerAutoExit->stop();
  btnCancelClick();
}

void TfMain::imgBKMouseDown(QMouseEvent *event) {
  // Let the window system move the borderless window; where it cannot (no
  // window manager), follow the mouse ourselves.
  DragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  Dragging_ = true;
  if (QWindow *window = windowHandle(); window != nullptr && window->startSystemMove())
    Dragging_ = false;
}

bool TfMain::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress && watched != this) {
    auto *key = static_cast<QKeyEvent *>(event);
    // A key the control ignores travels on to the window: remember it so
    // the handler runs once.
    PreviewedKey_ = key;
    FormKeyDown(key->key(), key->modifiers());
  }
  return QWidget::eventFilter(watched, event);
}

void TfMain::keyPressEvent(QKeyEvent *event) {
  if (event != PreviewedKey_)
    FormKeyDown(event->key(), event->modifiers());
  PreviewedKey_ = nullptr;
  QWidget::keyPressEvent(event);
}

void TfMain::closeEvent(QCloseEvent *event) {
  if (!Closed_) {
    Closed_ = true;
    FormClose();
  }
  event->accept();
}

void TfMain::EndDownloader() {
  EndRequested_ = true;
  hide();
  if (OnEndRequested)
    OnEndRequested();
}

bool TfMain::WriteBundleEntry(const std::string &name, const std::string &type,
                              const std::string &path) {
  return mirel::WriteBundleEntry(name, type, path);
}

void TfMain::CleanUpEngineFolder() {
  mirel::CleanUpEngineFolder(EngineFolder, MetainfoFileName);
}

namespace {

const char *const TextConnecting = "서버에 접속중입니다. 잠시만 기다려 주세요.";
const char *const TextServerDown =
    "서버에 접속할 수 없습니다.\r\n프로그램을 종료하고 잠시 후에 다시 실행하세요.";
const char *const TextCannotWrite = "선택한 경로에 파일을 받을 수 없습니다.";
const char *const TextCannotWriteBox =
    "선택한 경로에 파일을 받을 수 없습니다.\r\n다시 실행한 후 다른 경로를 지정해 주세요.";
const char *const TextBadMetainfo =
    "Torrent파일이 정상적이지 않습니다.\r\n잠시 후에 다시 실행하세요.";
const char *const TextFallback = "서버에서 파일을 다운받고 있습니다.";
const char *const CaptionWarning = "경고";

QString Q(const std::string &text) {
  return QString::fromStdString(text);
}

} // namespace

// --- the engine slots' view of the window -----------------------------------

std::string TEngineHostBridge::EngineFolder() const {
  return Window.EngineFolder;
}
std::string TEngineHostBridge::EngineExeName() const {
  return Window.EngineExeName;
}
bool TEngineHostBridge::ShowEngineConsole() const {
  return Window.Settings().ShowEngineConsole;
}
int TEngineHostBridge::ProgressState() const {
  return Window.ProgressState;
}
void TEngineHostBridge::StopMonitor() {
  Window.timerUpdateMonitor->stop();
}
void TEngineHostBridge::ErrorBox(const std::string &caption, const std::string &text) {
  Window.MessageBox(text, caption, QMessageBox::Critical);
}
void TEngineHostBridge::EndApplication() {
  Window.EndDownloader();
}
ConsoleViewFactory TEngineHostBridge::ConsoleViews() const {
  return consoleWindowFactory();
}

// --- displays -----------------------------------------------------------------

void TfMain::SetSpeedText(const std::string &text) {
  SetLabelText(lbSpeed, Q(text));
}
void TfMain::SetDownText(const std::string &text) {
  SetLabelText(lbDown, Q(text));
}
void TfMain::SetPercentText(const std::string &text) {
  SetLabelText(lblPercentage, Q(text));
}
void TfMain::SetRemainText(const std::string &text) {
  SetLabelText(lbRemain, Q(text));
}
void TfMain::SetStatusText(const std::string &text) {
  SetLabelText(lbTranDes, Q(text));
}
void TfMain::SetGaugePosition(uint32_t bytes) {
  SetProgressBytes(bytes);
}

void TfMain::SetGaugeTotal(int64_t totalBytes) {
  GaugeTotal_ = std::max<int64_t>(totalBytes, 0);
  GaugeShift_ = 0;
  while ((GaugeTotal_ >> GaugeShift_) > INT32_MAX)
    ++GaugeShift_;
  // A bar of 0..0 would show as busy; 0..1 stays empty until completion.
  Gauge1->setRange(0, std::max<int>(1, static_cast<int>(GaugeTotal_ >> GaugeShift_)));
  Gauge1->setValue(0);
}

int64_t TfMain::SetProgressBytes(int64_t bytes) {
  const int64_t shown = std::clamp<int64_t>(bytes, 0, GaugeTotal_);
  Gauge1->setValue(static_cast<int>(shown >> GaugeShift_));
  return shown;
}

void TfMain::MessageBox(const std::string &text, const std::string &caption,
                        QMessageBox::Icon icon) {
  QMessageBox box(icon, Q(caption), Q(text), QMessageBox::Ok, this);
  box.exec();
}

// --- creation and preparation -------------------------------------------------

void TfMain::FormCreate() {
  SetLabelText(lblCaption, Q(ApplicationTitle(DisplayName, ProductId)));
  EngineFolderName = ProductId + EngineFolderSuffix;
  EngineExeName = "ZULdnheadless.exe";
  ServerBaseUrl = Options_.ServerBaseUrl;
  MetainfoFileName = ProductId + ".setup.exe.torrent";
  WaitTimeSeconds = ReadWaitTime();
  StartTick = GetTickCount();
  ProgressState = 0;
  EnginesStopped = false;
  Closing = false;
  Metainfo.reset();
  ActivatedOnce = false;
  LaunchSetup = false;
  WorkFolder.clear();
  MetainfoPath.clear();
  TargetPath.clear();
  // Height from the background picture, width one pixel less than it.
  const QPixmap background = imgBK->pixmap();
  const int height = background.isNull() ? 170 : background.height();
  const int width = background.isNull() ? 379 : background.width() - 1;
  setFixedSize(width, height);
  imgBK->setGeometry(0, 0, width, height);
  Engines.Reset();
}

int TfMain::ReadWaitTime() {
  // The work folder is formed here too, but only kept from the activation on.
  WorkFolder = GetTempFolder() + ProductId + "/";
  TFetchContext context;
  context.Display = this;
  context.Closing = &Closing;
  const int wait = mirel::ReadWaitTime(WorkFolder, ServerBaseUrl, context);
  return wait;
}

std::string TfMain::ReadDownloadURL(const std::string &productId) {
  TFetchContext context;
  context.Display = this;
  context.Closing = &Closing;
  return mirel::ReadDownloadURL(WorkFolder, ServerBaseUrl, productId, SetupFileName, context);
}

bool TfMain::LoadMetainfo(const std::string &path) {
  Metainfo.reset();
  Metainfo = std::make_unique<TTorrentFile>();
  try {
    TFileStream stream(path);
    if (!Metainfo->LoadFromStream(stream))
      return false;
  } catch (const std::exception &) {
    return false;
  }
  // The name becomes a path in the work folder and next to the downloader:
  // a metainfo whose name is not one plain file name does not load.
  return IsSafeSetupFileName(Metainfo->Name);
}

void TfMain::FormActivate() {
  if (ActivatedOnce)
    return;
  ActivatedOnce = true;

  WorkFolder = MakeWorkFolder(GetTempFolder(), ProductId);
  if (WorkFolder.empty()) {
    EndDownloader();
    return;
  }
  EngineFolder = MakeEngineFolder(WorkFolder, EngineFolderName);
  MetainfoPath = EngineFolder + MetainfoFileName;
  Gauge1->setRange(0, 13);
  Gauge1->setValue(0);
  // The fetch below blocks without the loop: show the window first.
  Repaint();

  if (FetchURLToFile(ServerBaseUrl + MetainfoFileName, MetainfoPath) != 0) {
    MessageBox(TextServerDown, CaptionWarning, QMessageBox::Critical);
    SetStatusText(TextServerDown);
    btnCancel->setText(QStringLiteral("종료"));
    return;
  }
  Gauge1->setValue(Gauge1->value() + 2);
  Repaint();

  for (const TBundleRow &row : BundleTable) {
    if (!WriteBundleEntry(row.Name, row.Type, EngineFolder + row.FileName)) {
      SetStatusText(TextCannotWrite);
      MessageBox(TextCannotWriteBox, CaptionWarning, QMessageBox::Critical);
      EndDownloader();
      return;
    }
    Gauge1->setValue(Gauge1->value() + 1);
    Repaint();
  }

  if (!LoadMetainfo(MetainfoPath)) {
    MessageBox(TextBadMetainfo, CaptionWarning, QMessageBox::Critical);
    EndDownloader();
    return;
  }
  Gauge1->setValue(Gauge1->maximum());

  SetupFileName = Metainfo->Name;
  TargetPath = WorkFolder + SetupFileName;
  if (!Engines.StartTransfer(MetainfoPath, TargetPath, Metainfo.get()))
    return;

  SetGaugeTotal(Metainfo->TotalLength);
  SetStatusText(TextConnecting);
  timerUpdateMonitor->start();
}

// --- monitor ----------------------------------------------------------------------

void TfMain::timerUpdateMonitorTimer() {
  timerUpdateMonitor->stop();
  bool rearm = true;
  if (FallbackDue(ProgressState, GetTickCount(), StartTick, WaitTimeSeconds))
    rearm = RunFallback();
  else
    rearm = RunEngineSlots();
  // A close handled while this tick pumped messages ends the monitoring.
  if (rearm && !Closing)
    timerUpdateMonitor->start();
}

bool TfMain::RunFallback() {
  Engines.StopAllEngines();
  EnginesStopped = true;
  TURLDownload download;
  download.Display = this;
  download.Closing = &Closing;
  SetStatusText(TextFallback);
  download.URL = ReadDownloadURL(ProductId);
  ++FallbackAttempts_;
  // A captive portal's page or a cut transfer must never be run as the
  // setup program: the file has to be the one the metainfo describes. Its
  // pieces are checked while they arrive, so little is left after the fetch.
  std::unique_ptr<TPieceCheck> check;
  if (Metainfo != nullptr) {
    check = std::make_unique<TPieceCheck>(TargetPath, *Metainfo);
    download.OnBytesReceived = [&check](uint64_t received) { check->BytesWritten(received); };
  }
  if (!download.Fetch(TargetPath))
    return true;
  if (check == nullptr || !check->Finish()) {
    ForceDeleteFile(TargetPath);
    return true;
  }
  CompletionDisplay();
  return false;
}

bool TfMain::RunEngineSlots() {
  bool rearm = true;
  for (int i = 0; i < SlotCount; ++i) {
    TDownload &slot = Engines.Slots[i];
    if (!slot.Active || slot.Exited || !slot.Engine || !slot.Engine->Running())
      continue;
    uint32_t code = 0;
    if (!slot.Engine->GetExitCode(code))
      continue;
    if (code != 259) {
      slot.Exited = true;
      Engines.ReleaseSlot(i);
      // Before any progress the run is not lost: the fallback follows after
      // the waiting time, so the monitor keeps going.
      if (ProgressState != 0)
        rearm = false;
      continue;
    }
    const bool complete = ApplyStatusTitle(
        slot.Engine->ReadTitle(), slot, Metainfo ? Metainfo->TotalLength : 0, ProgressState, *this);
    if (complete) {
      CompletionDisplay();
      rearm = false;
    }
  }
  return rearm;
}

void TfMain::CompletionDisplay() {
  ShowCompletionTexts(*this);
  btnCancel->setText(QStringLiteral("설치 시작"));
  btnCancel->Tag = 1;
  Gauge1->setValue(Gauge1->maximum());
  SetPercentText("100%");
  timerUpdateMonitor->stop();
  btnCancel->setText(QStringLiteral("종료"));
  timerAutoExit->start();
  QCoreApplication::processEvents();
}

// --- keys, close and completion ---------------------------------------------------

void TfMain::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
  TShiftState state = 0;
  if (shift & Qt::ShiftModifier)
    state |= ssShift;
  if (shift & Qt::AltModifier)
    state |= ssAlt;
  if (shift & Qt::ControlModifier)
    state |= ssCtrl;
  // Qt names letter keys by their upper-case code, as virtual-key codes do.
  if (key >= 0 && key <= 0xFFFF)
    Engines.FormKeyDown(static_cast<uint16_t>(key), state);
}

void TfMain::FormClose() {
  ++CloseCount_;
  if (!EnginesStopped) {
    Engines.StopAllEngines();
    EnginesStopped = true;
  }
  Closing = true;
  CompleteDownloadCallback();
}

void TfMain::CompleteDownloadCallback() {
  DebugTrace("CompleteDownloadCallback begin\\n");
  const std::string destination = Options_.OwnFolder + SetupFileName;
  const std::string source = WorkFolder + SetupFileName;
  struct stat st {};
  if (btnCancel->Tag == 1 && IsSafeSetupFileName(SetupFileName) && !WorkFolder.empty() &&
      stat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    hide();
    LaunchSetup = true;
  }
  if (LaunchSetup) {
    CopyFileReplacing(source, destination);
    const int ret = ShellExecuteOpen(destination);
    DebugTrace("CompleteDownloadCallback::ShellExecute ret=" + std::to_string(ret) + "\\n");
  }
  CleanUpEngineFolder();
  DebugTrace("CompleteDownloadCallback end\\n");
}

} // namespace mirel
