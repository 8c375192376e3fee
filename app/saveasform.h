// The save-as dialog: a folder list filtered by the chosen file type, the
// path above it, a file-name box, a preview of the selected picture, and the
// format's save parameters behind "Advanced...". The main window prepares it
// with the shown file, shows it and takes the target path on OK.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;

namespace kel {
class TKelShapeButton;
}
namespace rv {
class TRastrum;
class TRastrumIO;
} // namespace rv
namespace sx {
class TSxShellComboBox;
class TSxShellListView;
class TSxShellItem;
} // namespace sx

namespace app {

class TPreviewReads;

// One row of the file-type list.
struct TSaveAsFileType {
  const char* DefaultExt;
  const char* Masks;
  // Pages of the save-parameters dialog; 0 for none.
  std::uint16_t Pages;
};

extern const std::array<TSaveAsFileType, 11> SaveAsFileTypes;

// The row's item text: its type description and its masks.
QString SaveAsFilterText(const TSaveAsFileType& Row);
// The row whose masks take the lower-case extension (".ico" as ".bmp"); -1
// for none.
int SaveAsRowOfExtension(const std::string& Ext);

class TSaveAsForm : public QDialog {
public:
  explicit TSaveAsForm(QWidget* parent = nullptr);
  ~TSaveAsForm() override;

  sx::TSxShellComboBox* SxShellCombo;
  sx::TSxShellListView* SxShellList;
  QLineEdit* EdtFileName;
  QComboBox* CmbFilter;
  rv::TRastrum* ImagePreview;
  QLabel* LblDimensions;
  QLabel* LblSize;
  QLabel* LblModified;
  kel::TKelShapeButton* SBtnSave;
  kel::TKelShapeButton* SBtnCancel;
  kel::TKelShapeButton* SBtnNewFolder;
  kel::TKelShapeButton* SBtnBackFolder;
  kel::TKelShapeButton* SBtnViewMode;
  kel::TKelShapeButton* SBtnAdvanced;
  QCheckBox* CBOpenSavedImage;
  QMenu* ViewMenu;
  QAction* Thumbnails1;
  QAction* Icons1;
  QAction* List1;
  QAction* Details1;
  QMenu* RefreshMenu;
  QAction* Refresh1;

  // The main picture view's input/output component, whose save parameters
  // "Advanced..." edits (not owned).
  rv::TRastrumIO* PictureIO = nullptr;

  // Shows the file's folder, or the pictures folder for a picture that has
  // no file yet; the file's name and type are taken.
  void Prepare(const std::string& Path, bool NewImage);
  // The folder shown joined with the name box; a name box holding an
  // absolute path names the target as it stands.
  std::string GetSaveAsTargetPath() const;
  // Answers 1 (Save) or 2 (Cancel).
  int ShowModal();
  // Prepare, ShowModal and, for OK, the target and whether the saved file is
  // to be opened.
  // Paths are their bytes: a name need not be UTF-8.
  int Execute(const std::string& Current, bool NewImage, std::string& Target, bool& OpenSaved);

  // The preview and its labels for the selected list item, read on a worker
  // while the dialog is shown: they come when the read ends.
  void RefreshPreview();
  void SelectFilter(int Index);

  // When set, ShowModal shows the dialog without a modal loop and this
  // answers it.
  static std::function<void(TSaveAsForm&)> ModalAnswer;

  void done(int result) override;
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  bool CloseQuery();
  // The name box: a name put there keeps its bytes while the box shows it.
  void SetNameBox(const std::string& Name);
  std::string NameBoxBytes() const;
  void ItemDblClick(sx::TSxShellItem* Item, bool& DefaultAction);
  void SetViewStyle(QAction* Item);
  void Refresh();
  void ClearPreview();
  bool HandleKey(int key);

  std::unique_ptr<TPreviewReads> FPreview;
  std::string FNameBytes;
};

// The one save-as dialog of the program (set by the first one created).
extern TSaveAsForm* SaveAsForm;

} // namespace app
