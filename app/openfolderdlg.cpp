#include "app/openfolderdlg.h"

#include "app/folderrows.h"
#include "app/folderview.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/mainform.h"
#include "app/modalrun.h"
#include "app/newfolderdlg.h"
#include "app/pictureload.h"
#include "app/pictureutil.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/wnimagelistbox/wnimagelistbox.h"
#include "controls/support/wnutils/wnutils.h"
#include "image/io/rvknownformat.h"
#include "image/views/rastrum.h"
#include "shell/sxnamespace.h"
#include "shell/sxshelltree.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace app {

TOpenFolderForm* OpenFolderForm = nullptr;
std::function<void(TOpenFolderForm&)> TOpenFolderForm::ModalAnswer;

namespace {

bool IsFolder(const std::string& Path) {
  std::error_code Error;
  return !Path.empty() && std::filesystem::is_directory(Path, Error);
}

std::string WithoutTrailingDelimiter(std::string Path) {
  while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
  return Path;
}

QLabel* MakeLabel(QWidget* Parent, const QString& Text, int X, int Y, int W) {
  auto* Label = new QLabel(Text, Parent);
  Label->setGeometry(X, Y, W, 16);
  return Label;
}

} // namespace

std::string OpenFolderStartingFolder(const std::vector<std::string>& RecentFolders) {
  for (const std::string& F : RecentFolders)
    if (IsFolder(F)) return F;
  const std::string Documents = wn::TWnDirectories().Personal();
  // The user's pictures: "My Pictures" in the documents as the design has
  // it, else the desktop's own pictures folder; then the documents.
  const std::string Candidates[] = {
      Documents.empty() ? std::string() : WithoutTrailingDelimiter(Documents) + "/My Pictures",
      QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString(),
      WithoutTrailingDelimiter(Documents)};
  for (const std::string& C : Candidates)
    if (IsFolder(C)) return WithoutTrailingDelimiter(C);
  return std::string();
}

TOpenFolderForm::TOpenFolderForm(const std::vector<std::string>& RecentFolders, QWidget* Parent,
                                 TTreeStart TreeStart)
    : QDialog(Parent) {
  setObjectName(QStringLiteral("OpenFolderForm"));
  setWindowTitle(QStringLiteral("Open Image Folder"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  MakeLabel(this, QStringLiteral("Image Folder:"), 8, 8, 300);
  CbxImageFolder = new QComboBox(this);
  CbxImageFolder->setEditable(true);
  CbxImageFolder->setInsertPolicy(QComboBox::NoInsert);
  CbxImageFolder->setGeometry(8, 26, 330, 24);
  // A recent folder chosen in the box (whose text it takes) is the one meant.
  const auto Chosen = [this](int Index) {
    if (Index >= 0) FPathBoxFolder = CbxImageFolder->itemData(Index).toByteArray().toStdString();
  };
  connect(CbxImageFolder, &QComboBox::currentIndexChanged, this, Chosen);
  connect(CbxImageFolder, &QComboBox::activated, this, Chosen);
  SBtnAssignFolder = new kel::TKelShapeButton(this);
  SBtnAssignFolder->setGeometry(342, 26, 24, 24);
  SBtnAssignFolder->SetCaption(">");
  SBtnAssignFolder->setToolTip(QStringLiteral("View Folder Contents"));
  SBtnAssignFolder->setStatusTip(QStringLiteral("View Folder Contents"));
  SBtnNewFolder = new kel::TKelShapeButton(this);
  SBtnNewFolder->setGeometry(370, 26, 24, 24);
  SBtnNewFolder->SetCaption("+");
  SBtnNewFolder->setToolTip(QStringLiteral("Create New Folder"));
  SBtnNewFolder->setStatusTip(QStringLiteral("Create New Folder"));

  SxShellTree = new sx::TSxShellTreeView(this);
  SxShellTree->setGeometry(8, 56, 386, 330);
  ImageListBox = new wn::TWnImageListBox(this);
  ImageListBox->setGeometry(402, 26, 200, 360);
  FIcons = new wn::TImageList(16, 16, this);
  ImageListBox->SetImageList(FIcons);
  ImagePreview = new rv::TRastrum(this);
  ImagePreview->setGeometry(610, 26, 200, 160);
  ImagePreview->AutoFit = true;
  ImagePreview->SetCenter(true);
  LblImageNOf = MakeLabel(this, QStringLiteral("Image #:"), 610, 194, 200);
  LblImageType = MakeLabel(this, QStringLiteral("Type:"), 610, 212, 200);
  LblDimensions = MakeLabel(this, QStringLiteral("Approx. Dimensions:"), 610, 230, 200);
  LblSize = MakeLabel(this, QStringLiteral("Size:"), 610, 248, 200);
  LblModified = MakeLabel(this, QStringLiteral("Modified Date:"), 610, 266, 200);
  FPreview = std::make_unique<TPreviewReads>(*ImagePreview, this, [this](TPictureLoad& Read) {
    int Width = 0, Height = 0;
    if (Read.Error().empty()) {
      Width = ImagePreview->IOParams().Width;
      Height = ImagePreview->IOParams().Height;
    } else {
      ImagePreview->Blank();
    }
    LblDimensions->setText(QStringLiteral("Dimensions: %1 x %2").arg(Width).arg(Height));
  });

  SBtnOpen = new kel::TKelShapeButton(this);
  SBtnOpen->SetCaption("Open");
  SBtnOpen->setGeometry(622, 356, 88, 28);
  SBtnCancel = new kel::TKelShapeButton(this);
  SBtnCancel->SetCaption("Cancel");
  SBtnCancel->setGeometry(716, 356, 88, 28);
  for (kel::TKelShapeButton* B : {SBtnOpen, SBtnCancel, SBtnAssignFolder, SBtnNewFolder}) ApplyFormButtonValues(*B);
  SBtnOpen->OnClick = [this](kel::TKelBaseGraphicButton*) { done(1); };
  SBtnCancel->OnClick = [this](kel::TKelBaseGraphicButton*) { done(2); };
  SBtnAssignFolder->OnClick = [this](kel::TKelBaseGraphicButton*) { AssignFolderClick(); };
  SBtnNewFolder->OnClick = [this](kel::TKelBaseGraphicButton*) { NewFolderClick(); };

  PopupMenu1 = new QMenu(this);
  PopupMenu1->addAction(QStringLiteral("Refresh [F5]"), this, [this] { RefreshOpenFolder(); });
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& P) { PopupMenu1->popup(mapToGlobal(P)); });

  SxShellTree->OnFolderSelected = [this](sx::TSyComponent*, sx::TSxShellFolder*) { SxShellTreeFolderSelected(); };
  connect(ImageListBox, &QListWidget::currentRowChanged, this, [this] {
    if (!FFilling) ShowOpenFolderFileInfo();
  });
  ImageListBox->OnDblClick = [this](wn::TWnImageListBox*) { done(1); };
  SxShellTree->viewport()->installEventFilter(this);
  ImagePreview->installEventFilter(this);
  CbxImageFolder->lineEdit()->installEventFilter(this);

  setFixedSize(818, 394);
  FormCreate(RecentFolders);
  if (TreeStart == tsAtCreation) PlaceTreeAtStart();
  if (OpenFolderForm == nullptr) OpenFolderForm = this;
}

TOpenFolderForm::~TOpenFolderForm() {
  if (OpenFolderForm == this) OpenFolderForm = nullptr;
}

void TOpenFolderForm::FormCreate(const std::vector<std::string>& RecentFolders) {
  AdjustControlsForDpi(this);
  ImagePreview->Blank();
  for (const std::string& F : RecentFolders)
    if (IsFolder(F)) AddRecentPath(F);
  FStartingFolder = OpenFolderStartingFolder(RecentFolders);
  if (!FStartingFolder.empty()) {
    SetPathBox(FStartingFolder);
    FTreePending = true;
  }
}

void TOpenFolderForm::PlaceTreeAtStart() {
  if (!FTreePending) return;
  const std::string Box = PathBoxFolder();
  SelectTreeFolder(FStartingFolder);
  // A path put in the box since creation stays; the tree's own form of the
  // starting folder replaces the starting folder as it did at creation.
  if (Box != FStartingFolder) SetPathBox(Box);
}

void TOpenFolderForm::SelectTreeFolder(const std::string& Path) {
  // Any folder chosen stands for the starting one.
  FTreePending = false;
  try {
    SxShellTree->SelectFolderPath(Path);
  } catch (const std::exception&) {
    // A folder outside the tree's root leaves the tree where it is.
  }
}

void TOpenFolderForm::SetPathBox(const std::string& Path) {
  FPathBoxFolder = Path;
  CbxImageFolder->setEditText(FileNameText(Path));
}

std::string TOpenFolderForm::PathBoxFolder() const {
  return FileNameOfText(CbxImageFolder->currentText(), FPathBoxFolder);
}

void TOpenFolderForm::AddRecentPath(const std::string& Path) {
  CbxImageFolder->addItem(FileNameText(Path), QByteArray::fromStdString(Path));
}

std::string TOpenFolderForm::TreeFolder() const {
  // To its callers the tree has been in its starting folder all along.
  if (FTreePending) const_cast<TOpenFolderForm*>(this)->PlaceTreeAtStart();
  const sx::TSxShellFolder* Folder = SxShellTree->SelectedFolder();
  return Folder ? Folder->Path : std::string();
}

std::string TOpenFolderForm::FileNameAt(int Row) const {
  const QListWidgetItem* Item = ImageListBox->item(Row);
  return Item ? Item->data(Qt::UserRole).toByteArray().toStdString() : std::string();
}

int TOpenFolderForm::ShowModal() { return RunModal(*this, ModalAnswer); }

void TOpenFolderForm::showEvent(QShowEvent* Event) {
  // Files deleted, added or changed while the dialog was hidden: the list
  // and the preview are read again (the first walk lists them itself).
  const bool Walked = FTreePending;
  FPreviewFile.clear();
  PlaceTreeAtStart();
  if (!Walked && SxShellTree->SelectedFolder()) PopulateFileList();
  QDialog::showEvent(Event);
  ShowOpenFolderFileInfo();
}

void TOpenFolderForm::SxShellTreeFolderSelected() {
  const sx::TSxShellFolder* Folder = SxShellTree->SelectedFolder();
  if (!Folder) return;
  // A virtual folder keeps its display form.
  const std::string& Path =
      Folder->Path.empty() || Folder->Path.rfind("::", 0) == 0 ? Folder->DisplayName : Folder->Path;
  if (Path != PathBoxFolder()) SetPathBox(Path);
  PopulateFileList();
  ShowOpenFolderFileInfo();
}

int TOpenFolderForm::GetOpenDialogIconIndex(const std::string& Name) {
  const std::string Ext = LowerFileExt(Name);
  if (Ext != ".ico") {
    for (std::size_t I = 0; I < FIconExts.size(); ++I)
      if (FIconExts[I] == Ext) return FIconIndexes[I];
  }
  QIcon Icon;
  try {
    auto Item = sx::TSxShellItem::CreateFromPath(JoinPath(TreeFolder(), Name));
    if (const QIcon* I = Item->GetSmallIcon()) Icon = *I;
  } catch (const std::exception&) {
  }
  if (Icon.isNull()) return -1;
  const int Index = FIcons->Add(Icon.pixmap(16, 16).toImage());
  FIconExts.push_back(Ext);
  FIconIndexes.push_back(Index);
  return Index;
}

void TOpenFolderForm::PopulateFileList() {
  PlaceTreeAtStart();
  const std::string Previous = FileNameAt(ImageListBox->currentRow());
  FFilling = true;
  ImageListBox->Items().Clear();
  const std::string Folder = TreeFolder();
  const std::vector<std::string> Names = ListPictureNames(Folder, true);
  const std::vector<int> Order = SortedNameOrder(Names);
  int Reselect = -1;
  for (int I : Order) {
    const std::string& Name = Names[static_cast<std::size_t>(I)];
    wn::TWnListItem* Item = ImageListBox->Items().Add();
    Item->SetText(FileNameText(Name));
    ImageListBox->item(Item->Index())->setData(Qt::UserRole, QByteArray::fromStdString(Name));
    Item->SetImageIndex(GetOpenDialogIconIndex(Name));
    if (Reselect < 0 && Name == Previous) Reselect = Item->Index();
  }
  FFilling = false;
  if (ImageListBox->count() > 0) ImageListBox->setCurrentRow(Reselect >= 0 ? Reselect : 0);
}

void TOpenFolderForm::ShowOpenFolderFileInfo() {
  PlaceTreeAtStart();
  const int Row = ImageListBox->currentRow();
  if (Row < 0 || Row >= ImageListBox->count()) {
    FPreviewFile.clear();
    LblImageNOf->setText(QStringLiteral("Image #:"));
    LblImageType->setText(QStringLiteral("Type:"));
    LblDimensions->setText(QStringLiteral("Dimensions:"));
    LblSize->setText(QStringLiteral("Size:"));
    LblModified->setText(QStringLiteral("Modified Date:"));
    FPreview->Drop();
    ImagePreview->Blank();
    return;
  }
  // The hidden dialog (made at start-up in the folder just opened) reads
  // no picture: showing it brings the preview.
  if (!isVisible()) {
    FPreviewFile.clear();
    return;
  }
  const std::string Name = FileNameAt(Row);
  const std::string Path = JoinPath(TreeFolder(), Name);
  if (Path == FPreviewFile) return;
  FPreviewFile = Path;
  // The picture of the file selected before goes at once; this one comes
  // with its dimensions.
  ImagePreview->Blank();
  FPreview->Read(Path);
  TScannedFile File;
  const bool Known = ReadScannedFile(TreeFolder(), Name, File);
  LblImageNOf->setText(QStringLiteral("Image #: %1 of %2").arg(Row + 1).arg(ImageListBox->count()));
  LblImageType->setText(QStringLiteral("Type: ") + QString::fromStdString(GetImageTypeDescription(Name)));
  LblDimensions->setText(QStringLiteral("Dimensions:"));
  LblSize->setText(QStringLiteral("Size: ") +
                   QString::fromStdString(FormatByteSize(Known ? static_cast<std::uint64_t>(File.Size) : 0)));
  LblModified->setText(QStringLiteral("Modified Date: ") + (Known ? FolderDateTimeText(File.Modified) : QString()));
}

std::string TOpenFolderForm::GetSelectedPath() const {
  if (!FUnlistedFolder.empty()) return FUnlistedFolder;
  const std::string Folder = TreeFolder();
  const int Row = ImageListBox->currentRow();
  if (Row >= 0 && Row < ImageListBox->count() &&
      WithoutTrailingDelimiter(PathBoxFolder()) == WithoutTrailingDelimiter(Folder))
    return JoinPath(Folder, FileNameAt(Row));
  return Folder;
}

void TOpenFolderForm::AssignFolderClick() {
  const std::string Path = PathBoxFolder();
  if (MainForm && !MainForm->ValidateFolder(Path)) return;
  if (!IsFolder(Path)) return;
  SelectTreeFolder(Path);
  if (!TreeShows(Path)) {
    ShowErrorDialog(FileNameText(Path) + QStringLiteral(" is not shown in the folder tree. Open opens it."));
    return;
  }
  if (sx::TSxTreeNode Node = SxShellTree->FindNodeByPath(Path)) SxShellTree->ExpandNode(Node);
  ShowOpenFolderFileInfo();
}

bool TOpenFolderForm::TreeShows(const std::string& Path) const {
  return WithoutTrailingDelimiter(TreeFolder()) == WithoutTrailingDelimiter(Path);
}

void TOpenFolderForm::NewFolderClick() {
  if (!NewFolderDlg) return;
  const std::string Folder = TreeFolder();
  NewFolderDlg->LblCurFolder->setText(FileNameText(Folder));
  NewFolderDlg->EdtNewFolderName->clear();
  while (NewFolderDlg->ShowModal() == 1) {
    const std::string Name = NewFolderDlg->EdtNewFolderName->text().toStdString();
    const std::string Path = JoinPath(Folder, Name);
    // Made by its name inside the folder shown: a name such as "../x" is
    // refused there, not made beside it.
    if (!sx::SxCreateFolder(Folder, Name)) {
      const int Error = errno;
      const std::string Fault = sx::SxItemNameFault(Name);
      if (!Fault.empty())
        ShowErrorDialog(QString::fromStdString("\"" + Name + "\" is not a valid folder name. " + Fault));
      else if (Error == EEXIST)
        ShowErrorDialog(FileNameText(Path) + QStringLiteral(" already exists."));
      else
        ShowErrorDialog(FileNameText(Path) + QStringLiteral(" could not be created."));
      continue;
    }
    SxShellTree->RefreshNode(SxShellTree->FindNodeByPath(Folder));
    SelectTreeFolder(Path);
    break;
  }
}

void TOpenFolderForm::RefreshOpenFolder() {
  const std::string Previous = TreeFolder();
  SxShellTree->RefreshNode();
  if (IsFolder(Previous)) SelectTreeFolder(Previous);
  PopulateFileList();
  FPreviewFile.clear();
  ShowOpenFolderFileInfo();
}

void TOpenFolderForm::DropRecentPath(const std::string& Path) {
  const int Index = CbxImageFolder->findData(QByteArray::fromStdString(Path));
  if (Index >= 0) CbxImageFolder->removeItem(Index);
}

void TOpenFolderForm::KeepRecentPaths(const std::vector<std::string>& Kept) {
  for (int I = CbxImageFolder->count() - 1; I >= 0; --I)
    if (std::find(Kept.begin(), Kept.end(), CbxImageFolder->itemData(I).toByteArray().toStdString()) == Kept.end())
      CbxImageFolder->removeItem(I);
}

bool TOpenFolderForm::CloseWithOpen() {
  const std::string Path = PathBoxFolder();
  if (MainForm ? !MainForm->ValidateFolder(Path) : !IsFolder(Path)) return false;
  if (CbxImageFolder->findData(QByteArray::fromStdString(Path)) < 0) AddRecentPath(Path);
  if (!TreeShows(Path)) SelectTreeFolder(Path);
  // A folder the tree does not show (a hidden one, the trash's own) is the
  // one opened, not the tree's.
  if (!TreeShows(Path)) FUnlistedFolder = WithoutTrailingDelimiter(Path);
  return true;
}

void TOpenFolderForm::done(int Result) {
  FUnlistedFolder.clear();
  // An Open whose folder is not valid keeps the dialog up.
  if (Result == 1 && !CloseWithOpen()) return;
  QDialog::done(Result);
  // A closed dialog has no preview to wait for; showing it reads it again.
  FPreview->Drop();
}

void TOpenFolderForm::keyPressEvent(QKeyEvent* Event) {
  switch (Event->key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
    done(1);
    return;
  case Qt::Key_Escape:
    done(2);
    return;
  case Qt::Key_F5:
    RefreshOpenFolder();
    return;
  default:
    QDialog::keyPressEvent(Event);
  }
}

bool TOpenFolderForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::MouseButtonDblClick) {
    if (Watched == SxShellTree->viewport() || (Watched == ImagePreview && !ImagePreview->IsEmpty())) {
      done(1);
      return true;
    }
  }
  if (Watched == CbxImageFolder->lineEdit() && Event->type() == QEvent::KeyPress) {
    const int Key = static_cast<QKeyEvent*>(Event)->key();
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
      done(1);
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

} // namespace app
