#include "app/emailsizedlg.h"

#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/msgbox.h"
#include "app/pictureload.h"
#include "app/pictureutil.h"
#include "app/qmquickmail.h"
#include "app/settings.h"
#include "controls/kel/kelprogressfill.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/qrcheckbox/qrcheckbox.h"
#include "image/io/rastrumio.h"
#include "image/io/rvloadedpicture.h"
#include "image/model/rastrumproc.h"
#include "image/views/rastrumview.h"
#include "platform/application.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace app {

TEmailSizeDlg* EmailSizeDlg = nullptr;

namespace {

constexpr int NarrowWidth = 372;
constexpr int WideWidth = 732;
constexpr int ClientHeight = 292;
constexpr int ButtonWidth = 100;
constexpr int ButtonHeight = 25;
constexpr std::size_t SubjectLength = 50;

kel::TKelShapeButton* MakeButton(QWidget* parent, const char* caption, int x, int y, int width) {
  auto* button = new kel::TKelShapeButton(parent);
  button->SetCaption(caption);
  ApplyFormButtonValues(*button);
  button->setGeometry(x, y, width, ButtonHeight);
  return button;
}

wn::TQrCheckBox* MakeCheckBox(QWidget* parent, const char* caption, int y) {
  auto* box = new wn::TQrCheckBox(parent);
  box->SetCaption(QString::fromUtf8(caption));
  box->SetTransparent(true);
  box->setGeometry(8, y, NarrowWidth - 16, 17);
  return box;
}

// The name of a path on the screen.
QString FileName(const std::string& Path) { return FileNameText(NameOfPath(Path)); }

// A name not yet taken in the work folder, made there as an empty file that
// only this user may read: pictures of the same name from two folders, or
// x.bmp beside x.jpg, each keep their own file, and the save that fills it
// keeps its mode.
std::string ReserveOutputPath(const std::string& Folder, const std::string& Name) {
  const std::size_t dot = Name.rfind('.');
  const bool suffixed = dot != std::string::npos && dot + 1 < Name.size();
  const std::string stem = Name.substr(0, dot), suffix = suffixed ? Name.substr(dot) : std::string();
  std::string candidate = Name;
  for (int n = 2;; ++n) {
    const std::string path = JoinPath(Folder, candidate);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) throw std::runtime_error("Cannot create " + path + ": " + std::strerror(errno));
    candidate = stem + " (" + std::to_string(n) + ")" + suffix;
  }
}

QString SizeText(int Width, int Height) { return QString::number(Width) + QLatin1Char('x') + QString::number(Height); }

// What one optimisation works on, taken from the dialog as it starts.
struct TEmailJob {
  std::vector<std::string> Paths;
  std::int64_t Limit;
  bool DontResize;
  bool ShowResults;
  std::string Folder;
};

TEmailJob JobOf(const TEmailSizeDlg& Dialog, const std::string& Folder) {
  return {Dialog.Paths(), EmailSizeLimit(Dialog.SpeedIndex()), Dialog.CBDontResize->Checked(),
          Dialog.CBShowResults->Checked(), Folder};
}

// The optimisation of Job's files, on any thread: it touches no widget.
// Stop is asked before each file and at each report of the reader, which
// then stops where it is.
TEmailOptimization OptimizeFiles(const TEmailJob& Job, const std::function<void(int)>& Progress,
                                 const std::function<bool()>& Stop) {
  TEmailOptimization result;
  const std::int64_t limit = Job.Limit;
  // The hidden view of the reductions, without a widget: a new view's
  // background, which a reader may compose on.
  rv::TRvLoadedPicture picture(platform::clBtnFace, 0, 0);
  rv::TRastrumIO io;
  io.SetAttachedRastrum(&picture);
  io.OnProgress = [&](void*, int) {
    if (Stop()) io.Aborting = true;
  };
  rv::TRastrumProc proc;
  proc.SetAttachedRastrum(&picture);
  // The copy an undo entry would keep is never used here.
  proc.AutoUndo = false;

  for (int i = 0; i < static_cast<int>(Job.Paths.size()) && !Stop(); ++i) {
    const std::string& path = Job.Paths[static_cast<std::size_t>(i)];
    const QString name = FileName(path);
    const std::string ext = LowerFileExt(path);
    try {
      std::error_code fault;
      // Gone since it was listed: reported, and the other files still go.
      if (!std::filesystem::is_regular_file(path, fault)) throw std::runtime_error("File not found");
      const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path, fault));
      if (fault) throw std::runtime_error("File not found");
      if (ext == ".ico" || ext == ".cur" || Job.DontResize || size <= limit) {
        result.Attachments.push_back(path);
        if (Job.ShowResults) result.Results.append(name + QStringLiteral(" - Unchanged"));
      } else {
        io.Aborting = false;
        io.LoadFromFile(path);
        if (io.Aborting) throw std::runtime_error("Unable to read the image file");
        if (Progress) Progress(3 * i + 1);
        const bool bmp = ext == ".bmp";
        const std::string outputName = bmp ? ChangeFileExt(NameOfPath(path), ".jpg") : NameOfPath(path);
        const double ratio = (bmp ? 16.0 : 1.5) * static_cast<double>(limit) / static_cast<double>(size);
        if (ratio >= 1.0 && !bmp) {
          result.Attachments.push_back(path);
          if (Job.ShowResults) result.Results.append(name + QStringLiteral(" - Unchanged"));
        } else {
          const double factor = EmailScaleFactor(ratio);
          const int width = io.Params().Width, height = io.Params().Height;
          platform::TBitmap* bitmap = picture.GetBitmap();
          const int newWidth = static_cast<int>(std::nearbyint(bitmap->Width() * factor));
          const int newHeight = static_cast<int>(std::nearbyint(bitmap->Height() * factor));
          if (newWidth != bitmap->Width() || newHeight != bitmap->Height())
            proc.Resample(newWidth, newHeight, rv::rfNone);
          if (Progress) Progress(3 * i + 2);
          const std::string output = ReserveOutputPath(Job.Folder, outputName);
          result.WorkFiles.push_back(output);
          try {
            SavePictureInFormat(output, io, false);
          } catch (...) {
            ::unlink(output.c_str());
            throw;
          }
          result.Attachments.push_back(output);
          if (Job.ShowResults) {
            const QString after = SizeText(bitmap->Width(), bitmap->Height());
            if (bmp && factor == 1.0)
              result.Results.append(name + QStringLiteral(" - Converted to Jpeg"));
            else if (bmp)
              result.Results.append(name + QStringLiteral(" - Converted to Jpeg and resized from ") +
                                    SizeText(width, height) + QStringLiteral(" to ") + after);
            else
              result.Results.append(name + QStringLiteral(" - Resized from ") + SizeText(width, height) +
                                    QStringLiteral(" to ") + after);
          }
        }
      }
    } catch (const std::exception& error) {
      result.Results.append(name + QStringLiteral(" - ERROR: ") + QString::fromUtf8(error.what()));
      result.Error = true;
    }
    if (result.SubjectNames.isEmpty())
      result.SubjectNames = name;
    else if (static_cast<std::size_t>(result.SubjectNames.size()) < SubjectLength)
      result.SubjectNames += QStringLiteral(", ") + name;
    if (Progress) Progress(3 * i + 3);
  }
  return result;
}

} // namespace

// The optimisation of one "Send Email" on a worker of its own. A run that
// is dropped takes its copies with it: nothing will attach them.
class TEmailReduction : public TWorkerRead {
public:
  TEmailReduction(TEmailJob Job, QObject* Context, std::function<void(int)> Progress, std::function<void()> Done)
      : Job(std::move(Job)) {
    Start(
        Context,
        [this, Context, Progress = std::move(Progress)] {
          TQueuedProgress report(Context, Progress);
          FResult = OptimizeFiles(
              this->Job, [&report](int Step) { report(Step); }, [this] { return Aborted(); });
        },
        std::move(Done));
  }
  ~TEmailReduction() override {
    Abort();
    Wait();
    if (!FTaken)
      for (const std::string& file : FResult.WorkFiles) ::unlink(file.c_str());
  }
  // After Wait, of a run not aborted: what it made, its copies the
  // caller's from now on.
  TEmailOptimization Take() {
    FTaken = true;
    return std::move(FResult);
  }

  const TEmailJob Job;

private:
  void Release() override {}

  TEmailOptimization FResult;
  bool FTaken = false;
};

int EmailSizeLimit(int SpeedIndex) {
  switch (SpeedIndex) {
    case 0: return 0x60000;
    case 2: return 0x8000;
    default: return 0x10000;
  }
}

double EmailScaleFactor(double Ratio) {
  const long r = std::lrint(Ratio * 100);
  // Capped for every type: just below 1, the rounding up to the next step of
  // 4 would enlarge a picture that had to shrink.
  return std::min(static_cast<double>(r - r % 4 + 4) / 100, 1.0);
}

TEmailSizeDlg::TEmailSizeDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  LblExplain = new QLabel(this);
  LblExplain->setWordWrap(true);
  LblExplain->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  LblExplain->setText(QStringLiteral(
      "Pictures larger than your connection can send quickly are reduced and saved as copies before they are "
      "attached. Your original files are not changed."));
  LblExplain->setGeometry(8, 8, NarrowWidth - 16, 64);

  RGSpeed = new QGroupBox(QStringLiteral("Image Size (Your Internet Connection Speed)"), this);
  RGSpeed->setGeometry(8, 76, NarrowWidth - 16, 92);
  RbLarge = new QRadioButton(QStringLiteral("Large (Cable/DSL)"), RGSpeed);
  RbMedium = new QRadioButton(QStringLiteral("Medium (56K Modem)"), RGSpeed);
  RbSmall = new QRadioButton(QStringLiteral("Small (28.8K Modem)"), RGSpeed);
  int y = 22;
  for (QRadioButton* item : {RbLarge, RbMedium, RbSmall}) {
    item->setGeometry(12, y, NarrowWidth - 48, 20);
    y += 22;
  }

  CBDontResize = MakeCheckBox(this, "Do not resize the images. Leave them as they are.", 176);
  CBShowResults = MakeCheckBox(this, "Show results after optimization.", 198);

  PBProgress = new kel::TKelProgressFill(this);
  PBProgress->setGeometry(8, 224, NarrowWidth - 16, 18);

  SBtnContinue = MakeButton(this, "Send Email", 8, 256, ButtonWidth);
  SBtnCancel = MakeButton(this, "Close", 8 + ButtonWidth + 7, 256, ButtonWidth);
  SBtnShowFiles = MakeButton(this, "Show Files >", 8 + 2 * (ButtonWidth + 7), 256, ButtonWidth);

  LblList = new QLabel(QStringLiteral("Files to Email"), this);
  LblList->setGeometry(NarrowWidth + 6, 8, 200, 16);
  FileListBox = new QListWidget(this);
  FileListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FileListBox->setGeometry(NarrowWidth + 6, 26, 200, 188);
  FileListBox->installEventFilter(this);
  SBtnClearSelection = MakeButton(this, "Clear Selected", NarrowWidth + 6, 222, 96);
  SBtnClearList = MakeButton(this, "Clear List", NarrowWidth + 110, 222, 96);
  SBtnMoreFiles = MakeButton(this, "Add More Files", NarrowWidth + 6, 256, 200);

  ImgPreview = new rv::TRastrumView(this);
  ImgPreview->setGeometry(NarrowWidth + 214, 26, 138, 138);
  ImgPreview->AutoFit = true;
  ImgPreview->SetCenter(true);
  LblPreviewName = new QLabel(this);
  LblPreviewName->setGeometry(NarrowWidth + 214, 170, 138, 16);
  LblPreviewSize = new QLabel(this);
  LblPreviewSize->setGeometry(NarrowWidth + 214, 188, 138, 16);

  FPreview = std::make_unique<TPreviewReads>(*ImgPreview, this, [this](TPictureLoad& Read) {
    LblPreviewName->setText(FileName(Read.Path()));
    if (!Read.Error().empty()) {
      ImgPreview->Blank();
      LblPreviewSize->clear();
      return;
    }
    const rv::TIOParamsVals& params = ImgPreview->GetIO()->Params();
    LblPreviewSize->setText(QString::number(params.Width) + QStringLiteral(" x ") + QString::number(params.Height));
  });
  FReductions = std::make_unique<TNewestRead<TEmailReduction>>();
  FQuickMail = std::make_unique<TQmQuickMail>();
  QuickMail = FQuickMail.get();
  WorkFolder = CreateWorkFolder;

  SBtnContinue->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnContinueClick(); };
  SBtnCancel->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnCancelClick(); };
  SBtnShowFiles->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnShowFilesClick(); };
  SBtnClearList->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnClearListClick(); };
  SBtnMoreFiles->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnMoreFilesClick(); };
  SBtnClearSelection->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnClearSelectionClick(); };
  QObject::connect(FileListBox, &QListWidget::itemClicked, this, [this] { FileListBoxClick(); });

  // FormCreate
  SetSpeedIndex(ReadSettingInt("InetSpeed", 1));
  CBShowResults->SetChecked(ReadSettingBool("ShowOptResults", false));
  CBDontResize->SetChecked(ReadSettingBool("DontOptimize", false));
  LayoutFiles();
  UpdateCaption();
  AdjustControlsForDpi(this);
  if (EmailSizeDlg == nullptr) EmailSizeDlg = this;
}

TEmailSizeDlg::~TEmailSizeDlg() {
  // FormDestroy. A write that fails goes to the error dialog: out of a
  // destructor it would end the program.
  platform::TApplication::Guarded([this] {
    WriteSettingInt("InetSpeed", SpeedIndex());
    WriteSettingBool("ShowOptResults", CBShowResults->Checked());
    WriteSettingBool("DontOptimize", CBDontResize->Checked());
  });
  if (EmailSizeDlg == this) EmailSizeDlg = nullptr;
}

int TEmailSizeDlg::SpeedIndex() const {
  if (RbLarge->isChecked()) return 0;
  if (RbMedium->isChecked()) return 1;
  if (RbSmall->isChecked()) return 2;
  return -1;
}

void TEmailSizeDlg::SetSpeedIndex(int Index) {
  QRadioButton* items[] = {RbLarge, RbMedium, RbSmall};
  if (Index >= 0 && Index < 3) {
    items[Index]->setChecked(true);
    return;
  }
  for (QRadioButton* item : items) {
    item->setAutoExclusive(false);
    item->setChecked(false);
    item->setAutoExclusive(true);
  }
}

void TEmailSizeDlg::AddFile(const std::string& Path) { StartWithFiles(std::vector<std::string>{Path}); }

void TEmailSizeDlg::StartWithFiles(const std::vector<std::string>& Paths) {
  for (const std::string& path : Paths)
    if (std::find(FPaths.begin(), FPaths.end(), path) == FPaths.end()) {
      FPaths.push_back(path);
      FileListBox->addItem(FileName(path));
    }
  UpdateCancelCaption();
  UpdateCaption();
}

void TEmailSizeDlg::StartWithFiles(const std::string& Folder, const std::vector<std::string>& Names) {
  std::vector<std::string> paths;
  for (const std::string& name : Names) paths.push_back(JoinPath(Folder, name));
  StartWithFiles(paths);
}

void TEmailSizeDlg::ShowWithFiles(const std::vector<std::string>& Paths) {
  StartWithFiles(Paths);
  show();
  raise();
  activateWindow();
}

void TEmailSizeDlg::UpdateCancelCaption() { SBtnCancel->SetCaption(FPaths.empty() ? "Close" : "Cancel"); }

void TEmailSizeDlg::UpdateCaption() {
  if (FPaths.empty())
    setWindowTitle(QStringLiteral("No Files to Email"));
  else if (FPaths.size() == 1)
    setWindowTitle(QStringLiteral("Email ") + FileName(FPaths.front()));
  else
    setWindowTitle(QStringLiteral("Email ") + QString::number(FPaths.size()) + QStringLiteral(" Images"));
}

void TEmailSizeDlg::ClearPreview() {
  FPreview->Drop();
  ImgPreview->Blank();
  LblPreviewName->clear();
  LblPreviewSize->clear();
}

void TEmailSizeDlg::ClearList() {
  FPaths.clear();
  FileListBox->clear();
  ClearPreview();
  UpdateCancelCaption();
  UpdateCaption();
}

void TEmailSizeDlg::LayoutFiles() {
  for (QWidget* part : std::initializer_list<QWidget*>{LblList, FileListBox, SBtnClearSelection, SBtnClearList,
                                                       SBtnMoreFiles, ImgPreview, LblPreviewName, LblPreviewSize})
    part->setVisible(FFilesShown);
  SBtnShowFiles->SetCaption(FFilesShown ? "< Hide Files" : "Show Files >");
  setFixedSize(FFilesShown ? WideWidth : NarrowWidth, ClientHeight);
}

void TEmailSizeDlg::SBtnShowFilesClick() {
  FFilesShown = !FFilesShown;
  LayoutFiles();
}

void TEmailSizeDlg::SBtnCancelClick() {
  // During the optimisation "Cancel" stops it, and the list stays.
  if (Reducing()) return StopReducing();
  ClearList();
  close();
}

void TEmailSizeDlg::SBtnClearListClick() { ClearList(); }

void TEmailSizeDlg::SBtnMoreFilesClick() { close(); }

void TEmailSizeDlg::SBtnClearSelectionClick() {
  for (int row = FileListBox->count() - 1; row >= 0; --row)
    if (FileListBox->item(row)->isSelected()) {
      delete FileListBox->takeItem(row);
      FPaths.erase(FPaths.begin() + row);
    }
  ClearPreview();
  UpdateCancelCaption();
  UpdateCaption();
}

void TEmailSizeDlg::FileListBoxClick() {
  const int row = FileListBox->currentRow();
  if (row < 0 || row >= static_cast<int>(FPaths.size())) return;
  FPreview->Read(FPaths[static_cast<std::size_t>(row)]);
}

TEmailOptimization TEmailSizeDlg::Optimize(const std::string& Folder, const std::function<void(int)>& Progress) {
  TEmailOptimization result = OptimizeFiles(JobOf(*this, Folder), Progress, [] { return false; });
  // Ours: the work folder's cleaning at close takes them.
  for (const std::string& file : result.WorkFiles) AddWorkFile(file);
  return result;
}

void TEmailSizeDlg::ShowEmailOptimizationResults(const QStringList& Lines, bool Error) {
  // The main window's message dialog; one of our own before it exists.
  std::unique_ptr<THelpDlg> own;
  THelpDlg* dialog = HelpDlg;
  if (dialog == nullptr) {
    own = std::make_unique<THelpDlg>();
    dialog = own.get();
  }
  dialog->ShowEmailOptimizationResults(Lines, Error);
  dialog->ShowModal();
}

bool TEmailSizeDlg::Sending() const { return FSending || FQuickMail->Busy(); }

bool TEmailSizeDlg::Reducing() const { return FReductions->Current() != nullptr; }

void TEmailSizeDlg::SBtnContinueClick() {
  if (FPaths.empty() || Sending()) return;
  const std::string workFolder = WorkFolder();
  PBProgress->SetMaxValue(3 * static_cast<int>(FPaths.size()));
  QuickMail->FileNames.clear();
  FSending = true;
  EnableForReducing(true);
  FReductions->Start([&](unsigned Serial) {
    return std::make_unique<TEmailReduction>(
        JobOf(*this, workFolder), this,
        [this, Serial](int Step) {
          if (FReductions->Wanted(Serial)) PBProgress->SetPosition(Step);
        },
        [this, Serial] { Reduced(Serial); });
  });
}

void TEmailSizeDlg::Reduced(unsigned Serial) {
  const std::unique_ptr<TEmailReduction> run = FReductions->Ended(Serial);
  if (!run) return;
  run->Wait();
  const TEmailOptimization result = run->Take();
  // Ours: the work folder's cleaning at close takes them.
  for (const std::string& file : result.WorkFiles) AddWorkFile(file);
  EnableForReducing(false);
  if (result.Error || (run->Job.ShowResults && !run->Job.DontResize))
    ShowEmailOptimizationResults(result.Results, result.Error);
  QuickMail->Subject = static_cast<std::size_t>(result.SubjectNames.size()) > SubjectLength
                           ? QString::number(result.Attachments.size()) + QStringLiteral(" Images")
                           : result.SubjectNames;
  QuickMail->FileNames = result.Attachments;
  setEnabled(false);
  QuickMail->SendAsync([this](bool Sent) { Finish(Sent); });
}

void TEmailSizeDlg::StopReducing() {
  if (!Reducing()) return;
  FReductions->Drop();
  FSending = false;
  EnableForReducing(false);
  PBProgress->SetPosition(0);
}

void TEmailSizeDlg::EnableForReducing(bool Reducing) {
  for (QWidget* part : std::initializer_list<QWidget*>{RGSpeed, CBDontResize, CBShowResults, SBtnContinue, FileListBox,
                                                       SBtnClearSelection, SBtnClearList, SBtnMoreFiles})
    part->setEnabled(!Reducing);
}

void TEmailSizeDlg::Finish(bool Sent) {
  FSending = false;
  setEnabled(true);
  if (Sent && MessageDlg(windowTitle(), QStringLiteral("Finished. Would you like to clear the file list?"),
                         QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
    ClearList();
  UpdateCaption();
  PBProgress->SetPosition(0);
  close();
}

void TEmailSizeDlg::closeEvent(QCloseEvent* event) {
  StopReducing();
  QDialog::closeEvent(event);
}

void TEmailSizeDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: SBtnContinue->Click(); return;
    case Qt::Key_Escape: SBtnCancel->Click(); return;
    default: QDialog::keyPressEvent(event);
  }
}

bool TEmailSizeDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FileListBox && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    SBtnClearSelectionClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

} // namespace app
