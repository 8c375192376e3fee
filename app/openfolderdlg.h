// "Open Image Folder": the folder tree of the shell, a path box with the
// recent folders, the picture files of the chosen folder with their icons,
// and a preview of the selected file with its details.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QMenu;

namespace kel {
class TKelShapeButton;
}
namespace rv {
class TRastrum;
}
namespace sx {
class TSxShellTreeView;
}
namespace wn {
class TImageList;
class TWnImageListBox;
} // namespace wn

namespace app {

class TPreviewReads;

class TOpenFolderForm : public QDialog {
public:
  // When the tree goes to the starting folder (a walk of the file system
  // and a listing of the folder's pictures): at creation, or when the
  // dialog is first used (shown, or its folder asked for).
  enum TTreeStart { tsAtCreation, tsAtFirstUse };

  // RecentFolders: the main window's recent folders, most recent first.
  // Folders and files are kept as their bytes from the tree, the list and
  // the path box to the main window: a name need not be UTF-8, and its text
  // would name another folder.
  explicit TOpenFolderForm(const std::vector<std::string>& RecentFolders, QWidget* Parent = nullptr,
                           TTreeStart TreeStart = tsAtCreation);
  ~TOpenFolderForm() override;

  sx::TSxShellTreeView* SxShellTree;
  QComboBox* CbxImageFolder;
  wn::TWnImageListBox* ImageListBox;
  rv::TRastrum* ImagePreview;
  QLabel* LblImageNOf;
  QLabel* LblImageType;
  QLabel* LblDimensions;
  QLabel* LblSize;
  QLabel* LblModified;
  kel::TKelShapeButton* SBtnOpen;
  kel::TKelShapeButton* SBtnCancel;
  kel::TKelShapeButton* SBtnAssignFolder;
  kel::TKelShapeButton* SBtnNewFolder;
  QMenu* PopupMenu1;

  // Shows the dialog modally; 1 Open, 2 Cancel.
  int ShowModal();
  // The chosen folder, or the folder and its selected file when the path
  // box shows that folder. A folder typed that the tree does not show is
  // chosen as typed.
  std::string GetSelectedPath() const;
  // The tree's selected folder; empty when none.
  std::string TreeFolder() const;
  // The folder the path box names: the one put there (the tree's, a recent
  // one chosen) while the box reads as that folder's text, else its text.
  std::string PathBoxFolder() const;
  // The name of the list's file on Row; empty when there is none.
  std::string FileNameAt(int Row) const;
  void PopulateFileList();
  // The labels of the selected file; its picture and dimensions are read on
  // a worker and come when the read ends.
  void ShowOpenFolderFileInfo();
  void RefreshOpenFolder();
  void AssignFolderClick();
  void NewFolderClick();
  // A recent folder that no longer exists leaves the path box's list.
  void DropRecentPath(const std::string& Path);
  // The path box's list keeps the folders of Kept only.
  void KeepRecentPaths(const std::vector<std::string>& Kept);
  // The file shown in the preview; empty when none.
  const std::string& PreviewFile() const { return FPreviewFile; }
  const std::string& StartingFolder() const { return FStartingFolder; }

  // When set, ShowModal shows the dialog without a modal loop and lets this
  // answer it instead of a user.
  static std::function<void(TOpenFolderForm&)> ModalAnswer;

  void done(int Result) override;

protected:
  void showEvent(QShowEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void FormCreate(const std::vector<std::string>& RecentFolders);
  void SxShellTreeFolderSelected();
  void SelectTreeFolder(const std::string& Path);
  void SetPathBox(const std::string& Path);
  void AddRecentPath(const std::string& Path);
  // Selects the starting folder in the tree when nothing has yet.
  void PlaceTreeAtStart();
  int GetOpenDialogIconIndex(const std::string& Name);
  bool CloseWithOpen();
  // Whether the tree's selected folder is Path.
  bool TreeShows(const std::string& Path) const;

  wn::TImageList* FIcons;
  std::string FPreviewFile;
  std::string FStartingFolder;
  // The folder last put into the path box.
  std::string FPathBoxFolder;
  // The folder the last Open chose that the tree does not show.
  std::string FUnlistedFolder;
  std::vector<std::string> FIconExts;
  std::vector<int> FIconIndexes;
  bool FFilling = false;
  // The starting folder waits to be selected in the tree.
  bool FTreePending = false;
  std::unique_ptr<TPreviewReads> FPreview;
};

// The one open-folder dialog of the program (set by the first one created).
extern TOpenFolderForm* OpenFolderForm;

// The folder the dialog starts in: the first recent folder that exists,
// else the user's "My Pictures", pictures or documents folder; empty when
// there is none.
std::string OpenFolderStartingFolder(const std::vector<std::string>& RecentFolders);

} // namespace app
