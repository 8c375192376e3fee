#include "app/saveasform.h"

#include "app/dialogglyphs.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/msgbox.h"
#include "app/pictureload.h"
#include "app/pictureutil.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/wnutils/wnutils.h"
#include "image/io/rastrumio.h"
#include "image/views/rastrum.h"
#include "shell/sxshellcombo.h"
#include "shell/sxshelllist.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QSignalBlocker>
#include <QStandardPaths>

#include "app/modalrun.h"

#include <filesystem>
#include <limits>
#include <sys/stat.h>

namespace app {

TSaveAsForm* SaveAsForm = nullptr;
std::function<void(TSaveAsForm&)> TSaveAsForm::ModalAnswer;

const std::array<TSaveAsFileType, 11> SaveAsFileTypes = {{
    {".jpg", "*.jpeg;*.jpg;*.jpe", rv::pvpJPEG},
    {".bmp", "*.bmp;*.dib;*.rle", rv::pvpBMP},
    {".png", "*.png", rv::pvpPNG},
    {".emf", "*.wmf;*.emf", 0},
    {".gif", "*.gif", rv::pvpGIF},
    {".pcx", "*.pcx", rv::pvpPCX},
    {".jp2", "*.jp2", rv::pvpJPEG2000},
    {".j2k", "*.j2k;*.jpc;*.j2c", rv::pvpJPEG2000},
    {".tif", "*.tif;*.tiff;*.fax;*.g3n;*.g3f", rv::pvpTIFF},
    {".tga", "*.tga;*.targa;*.vda;*.icb;*.vst;*.win", rv::pvpTGA},
    {".pxm", "*.pxm;*.ppm;*.pgm;*.pbm", 0},
}};

namespace {

constexpr int ClientWidth = 580;
constexpr int ClientHeight = 430;

const QString DimensionsCaption = QStringLiteral("Dimensions:");
const QString SizeCaption = QStringLiteral("Size:");
const QString ModifiedCaption = QStringLiteral("Modified Date:");

kel::TKelShapeButton* MakeButton(QWidget* parent, const char* caption, QRect bounds) {
  auto* button = new kel::TKelShapeButton(parent);
  ApplyFormButtonValues(*button);
  button->SetCaption(caption);
  button->setGeometry(bounds);
  return button;
}

kel::TKelShapeButton* MakeGlyphButton(QWidget* parent, TDialogGlyph glyph, const char* hint, QRect bounds) {
  kel::TKelShapeButton* button = MakeButton(parent, "", bounds);
  platform::TBitmap image;
  MakeDialogGlyph(glyph, image);
  button->SetGlyph(image);
  button->setToolTip(QString::fromUtf8(hint));
  return button;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, QRect bounds) {
  auto* label = new QLabel(caption, parent);
  label->setGeometry(bounds);
  return label;
}

std::string FileNameOf(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string FolderOf(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

bool IsFolder(const std::string& Path) {
  std::error_code error;
  return !Path.empty() && std::filesystem::is_directory(Path, error);
}

bool IsFile(const std::string& Path) {
  std::error_code error;
  return std::filesystem::is_regular_file(Path, error);
}

// A list row that names an existing picture file. Asked of the file itself:
// the filtered rows are copies that do not all carry the item's file flag.
bool IsPictureFile(const sx::TSxShellItem* Item) {
  return Item && !Item->IsFolder && IsImageFileExtension(Item->Path) && IsFile(Item->Path);
}

} // namespace

QString SaveAsFilterText(const TSaveAsFileType& Row) {
  return QString::fromStdString(GetImageTypeDescription(Row.DefaultExt)) + QStringLiteral(" (") +
         QString::fromUtf8(Row.Masks).replace(QLatin1Char(';'), QLatin1Char(',')) + QLatin1Char(')');
}

int SaveAsRowOfExtension(const std::string& Ext) {
  // Icons are not written: they are saved as bitmaps.
  const std::string ext = Ext == ".ico" ? ".bmp" : Ext;
  if (ext.empty()) return -1;
  for (std::size_t i = 0; i < SaveAsFileTypes.size(); ++i) {
    // Any extension of the row's masks chooses it, not only its default one.
    const std::string masks = std::string(SaveAsFileTypes[i].Masks) + ";";
    if (masks.find("*" + ext + ";") != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

TSaveAsForm::TSaveAsForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Save Image"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  MakeLabel(this, QStringLiteral("Save in:"), {8, 12, 60, 20});
  SxShellCombo = new sx::TSxShellComboBox(this);
  SxShellCombo->setGeometry(70, 10, 300, 24);
  SBtnBackFolder = MakeGlyphButton(this, dgUpOneLevel, "Up One Level", {376, 8, 30, 28});
  SBtnNewFolder = MakeGlyphButton(this, dgNewFolder, "Create New Folder", {410, 8, 30, 28});
  SBtnViewMode = MakeGlyphButton(this, dgViewMenu, "View Menu", {444, 8, 30, 28});

  SxShellList = new sx::TSxShellListView(this);
  SxShellList->setGeometry(8, 42, 396, 268);
  SxShellList->SetComboBox(SxShellCombo);
  SxShellList->SetFiltered(true);
  SxShellList->SetViewStyle(sx::vsList);

  ImagePreview = new rv::TRastrum(this);
  ImagePreview->setGeometry(412, 42, 160, 160);
  ImagePreview->AutoShrink = true;
  ImagePreview->SetCenter(true);
  ImagePreview->installEventFilter(this);
  ImagePreview->OnDblClick = [this](void*) {
    if (!ImagePreview->IsEmpty()) done(1);
  };
  // A large picture's dimensions take a second line rather than be cut at
  // the dialog's edge.
  LblDimensions = MakeLabel(this, QStringLiteral("Approx. Dimensions:"), {412, 206, 160, 36});
  LblSize = MakeLabel(this, QStringLiteral("Size:"), {412, 244, 160, 18});
  LblModified = MakeLabel(this, QStringLiteral("Modified Date:"), {412, 264, 160, 36});
  for (QLabel* label : {LblDimensions, LblModified}) {
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  FPreview = std::make_unique<TPreviewReads>(*ImagePreview, this, [this](TPictureLoad& Read) {
    if (!Read.Error().empty()) return ClearPreview();
    struct stat file {};
    const bool known = ::stat(Read.Path().c_str(), &file) == 0;
    const rv::TIOParamsVals& params = ImagePreview->IOParams();
    LblDimensions->setText(QStringLiteral("Dimensions: %1 x %2").arg(params.Width).arg(params.Height));
    // The byte-size text counts in 32 bits: larger files show its largest value.
    const auto size = static_cast<std::uint32_t>(
        std::min<std::int64_t>(file.st_size, std::numeric_limits<std::uint32_t>::max()));
    LblSize->setText(QStringLiteral("Size: ") + QString::fromStdString(FormatByteSize(size)));
    const QDateTime modified =
        known ? QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(file.st_mtim.tv_sec) * 1000 +
                                               file.st_mtim.tv_nsec / 1000000)
              : QDateTime();
    LblModified->setText(QStringLiteral("Modified Date: ") + QLocale().toString(modified, QLocale::ShortFormat));
  });

  MakeLabel(this, QStringLiteral("File name:"), {8, 324, 90, 20});
  EdtFileName = new QLineEdit(this);
  EdtFileName->setGeometry(100, 322, 304, 24);
  MakeLabel(this, QStringLiteral("Save as type:"), {8, 356, 90, 20});
  CmbFilter = new QComboBox(this);
  CmbFilter->setGeometry(100, 354, 304, 24);
  for (const TSaveAsFileType& row : SaveAsFileTypes) CmbFilter->addItem(SaveAsFilterText(row));
  SBtnSave = MakeButton(this, "Save", {412, 320, 76, 26});
  SBtnCancel = MakeButton(this, "Cancel", {496, 320, 76, 26});
  SBtnAdvanced = MakeButton(this, "Advanced...", {412, 352, 160, 26});
  CBOpenSavedImage = new QCheckBox(QStringLiteral("Open Saved Image"), this);
  CBOpenSavedImage->setGeometry(100, 390, 200, 22);

  ViewMenu = new QMenu(this);
  auto* styles = new QActionGroup(ViewMenu);
  Thumbnails1 = ViewMenu->addAction(QStringLiteral("Thumbnails"));
  Icons1 = ViewMenu->addAction(QStringLiteral("Icons"));
  List1 = ViewMenu->addAction(QStringLiteral("List"));
  Details1 = ViewMenu->addAction(QStringLiteral("Details"));
  for (QAction* item : {Thumbnails1, Icons1, List1, Details1}) {
    item->setCheckable(true);
    styles->addAction(item);
    connect(item, &QAction::triggered, this, [this, item] { SetViewStyle(item); });
  }
  List1->setChecked(true);
  RefreshMenu = new QMenu(this);
  Refresh1 = RefreshMenu->addAction(QStringLiteral("Refresh [F5]"));
  connect(Refresh1, &QAction::triggered, this, [this] { Refresh(); });

  for (kel::TKelShapeButton* button :
       {SBtnSave, SBtnCancel, SBtnNewFolder, SBtnBackFolder, SBtnViewMode, SBtnAdvanced})
    button->installEventFilter(this);
  SBtnSave->OnClick = [this](kel::TKelBaseGraphicButton*) { done(1); };
  SBtnCancel->OnClick = [this](kel::TKelBaseGraphicButton*) { done(2); };
  SBtnBackFolder->OnClick = [this](kel::TKelBaseGraphicButton*) { SxShellList->MoveUpOneLevel(); };
  SBtnNewFolder->OnClick = [this](kel::TKelBaseGraphicButton*) {
    try {
      SxShellList->CreateNewFolder("");
    } catch (const std::exception& error) {
      MessageDlg(windowTitle(), QString::fromUtf8(error.what()), QMessageBox::Critical, QMessageBox::Ok);
    }
  };
  SBtnViewMode->OnClick = [this](kel::TKelBaseGraphicButton*) {
    ViewMenu->popup(SBtnViewMode->mapToGlobal(QPoint(0, SBtnViewMode->height())));
  };
  SBtnAdvanced->OnClick = [this](kel::TKelBaseGraphicButton*) {
    const int row = CmbFilter->currentIndex();
    if (row < 0 || !PictureIO) return;
    if (const std::uint16_t pages = SaveAsFileTypes[static_cast<std::size_t>(row)].Pages) PictureIO->DoPreviews(pages);
  };
  connect(CmbFilter, &QComboBox::currentIndexChanged, this, [this](int index) { SelectFilter(index); });

  SxShellList->OnItemSelected = [this](sx::TSyComponent*, sx::TSxShellItem*) { RefreshPreview(); };
  SxShellList->OnItemDblClick = [this](sx::TSyComponent*, sx::TSxShellItem* item, bool& defaultAction) {
    ItemDblClick(item, defaultAction);
  };

  setFixedSize(ClientWidth, ClientHeight);
  AdjustControlsForDpi(this);
  ClearPreview();
  {
    const QSignalBlocker quiet(CmbFilter);
    CmbFilter->setCurrentIndex(0);
  }
  SxShellList->SetFileFilter(SaveAsFileTypes[0].Masks);
  if (SaveAsForm == nullptr) SaveAsForm = this;
}

TSaveAsForm::~TSaveAsForm() {
  SxShellList->OnItemSelected = nullptr;
  SxShellList->OnItemDblClick = nullptr;
  if (SaveAsForm == this) SaveAsForm = nullptr;
}

void TSaveAsForm::Prepare(const std::string& Path, bool NewImage) {
  std::string folder;
  if (!NewImage && IsFile(Path)) {
    folder = FolderOf(Path);
  } else {
    // The desktop's pictures folder (the user's own choice in its folder
    // settings), else the pictures folder in the documents folder, else the
    // documents folder, else the home folder: the first that exists (a home
    // need not have a documents folder), never the root.
    const std::string documents = wn::TWnDirectories().Personal();
    const std::string candidates[] = {
        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString(),
        documents.empty() ? std::string() : JoinPath(documents, "My Pictures"), documents};
    folder = QDir::homePath().toStdString();
    for (const std::string& candidate : candidates)
      if (!candidate.empty() && IsFolder(candidate)) {
        folder = candidate;
        break;
      }
  }
  SxShellList->SetRootFolder(folder);
  const std::string name = FileNameOf(Path);
  SetNameBox(name);
  const int row = SaveAsRowOfExtension(LowerFileExt(name));
  if (row >= 0) {
    const QSignalBlocker quiet(CmbFilter);
    CmbFilter->setCurrentIndex(row);
    SxShellList->SetFileFilter(SaveAsFileTypes[static_cast<std::size_t>(row)].Masks);
  }
  if (!name.empty()) SxShellList->SelectItemByName(name);
}

void TSaveAsForm::SetNameBox(const std::string& Name) {
  FNameBytes = Name;
  EdtFileName->setText(FileNameText(Name));
}

std::string TSaveAsForm::NameBoxBytes() const {
  return FileNameOfText(EdtFileName->text(), FNameBytes);
}

std::string TSaveAsForm::GetSaveAsTargetPath() const {
  const std::string name = NameBoxBytes();
  // A path typed in full names its own folder; any other name is in the one shown.
  if (!name.empty() && name.front() == '/') return name;
  const sx::TSxShellFolder* folder = SxShellList->CurrentFolder();
  return JoinPath(folder ? folder->Path : SxShellList->RootFolder(), name);
}

int TSaveAsForm::ShowModal() { return RunModal(*this, ModalAnswer); }

int TSaveAsForm::Execute(const std::string& Current, bool NewImage, std::string& Target, bool& OpenSaved) {
  Prepare(Current, NewImage);
  const int result = ShowModal();
  if (result == 1) {
    Target = GetSaveAsTargetPath();
    OpenSaved = CBOpenSavedImage->isChecked();
  }
  return result;
}

void TSaveAsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  RefreshPreview();
}

void TSaveAsForm::ClearPreview() {
  FPreview->Drop();
  ImagePreview->Blank();
  LblDimensions->setText(DimensionsCaption);
  LblSize->setText(SizeCaption);
  LblModified->setText(ModifiedCaption);
}

void TSaveAsForm::RefreshPreview() {
  ClearPreview();
  // The hidden dialog reads no picture: showing it brings the preview.
  sx::TSxShellItem* item = SxShellList->SelectedItem();
  if (isVisible() && IsPictureFile(item)) FPreview->Read(item->Path);
}

void TSaveAsForm::SelectFilter(int Index) {
  if (Index < 0 || Index >= static_cast<int>(SaveAsFileTypes.size())) return;
  const TSaveAsFileType& row = SaveAsFileTypes[static_cast<std::size_t>(Index)];
  if (SxShellList->FileFilter() == row.Masks) return;
  SxShellList->SetFileFilter(row.Masks);
  const std::string name = NameBoxBytes();
  if (!name.empty()) SetNameBox(ChangeFileExt(name, row.DefaultExt));
}

void TSaveAsForm::SetViewStyle(QAction* Item) {
  const sx::TViewStyle style = Item == Thumbnails1 ? sx::vsIcon
                               : Item == Icons1    ? sx::vsSmallIcon
                               : Item == List1     ? sx::vsList
                                                   : sx::vsReport;
  SxShellList->SetViewStyle(style);
  Item->setChecked(true);
}

void TSaveAsForm::Refresh() {
  SxShellList->RefreshList();
  RefreshPreview();
}

void TSaveAsForm::ItemDblClick(sx::TSxShellItem* Item, bool& DefaultAction) {
  if (!IsPictureFile(Item)) return;
  DefaultAction = false;
  // The file double-clicked is the one to save over, whatever the box held.
  SetNameBox(FileNameOf(Item->Path));
  done(1);
}

bool TSaveAsForm::CloseQuery() {
  std::string name = NameBoxBytes();
  if (name.empty()) return false;
  // Only the name's own dots count, not those of a folder typed before it.
  if (FileNameOf(name).find('.') == std::string::npos) {
    const int row = std::max(0, CmbFilter->currentIndex());
    name += SaveAsFileTypes[static_cast<std::size_t>(row)].DefaultExt;
    SetNameBox(name);
  }
  const std::string target = GetSaveAsTargetPath();
  if (!IsImageFileExtension(target)) {
    MessageDlg(windowTitle(), FileNameText(target) + QStringLiteral(" is not a supported save format!"),
               QMessageBox::Critical, QMessageBox::Ok);
    return false;
  }
  std::error_code error;
  if (std::filesystem::exists(target, error) &&
      MessageDlg(windowTitle(),
                 FileNameText(target) + QStringLiteral(" already exists!\n\rDo you you want to replace it?"),
                 QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return false;
  return true;
}

void TSaveAsForm::done(int result) {
  if (result == 1 && !CloseQuery()) return;
  QDialog::done(result);
  // A closed dialog has no preview to wait for.
  FPreview->Drop();
}

void TSaveAsForm::reject() { done(2); }

bool TSaveAsForm::HandleKey(int key) {
  if (key != Qt::Key_F5) return DialogKey(*this, key);
  Refresh();
  return true;
}

void TSaveAsForm::keyPressEvent(QKeyEvent* event) {
  if (!HandleKey(event->key())) QDialog::keyPressEvent(event);
}

bool TSaveAsForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ImagePreview) {
    if (event->type() == QEvent::ContextMenu) {
      RefreshMenu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    }
  } else if (event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event)->key())) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

} // namespace app
