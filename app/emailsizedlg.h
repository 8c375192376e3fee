// The e-mail wizard: collects pictures to mail, shrinks the ones too large
// for the chosen connection speed into the work folder, and hands the files
// to the mail sender. Made once at start-up; its list lasts between showings.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QGroupBox;
class QLabel;
class QListWidget;
class QRadioButton;

namespace kel {
class TKelShapeButton;
class TKelProgressFill;
} // namespace kel
namespace rv {
class TRastrumView;
}
namespace wn {
class TQrCheckBox;
}

namespace app {

class TPictureLoad;
class TQmQuickMail;

// Byte limit of a picture for each connection speed (item index of RGSpeed).
int EmailSizeLimit(int SpeedIndex);
// The scale of a picture whose size ratio (limit over size, weighted) is
// Ratio: rounded to hundredths, down to a multiple of 4, plus 4, at most 1.
double EmailScaleFactor(double Ratio);

// What the optimisation of one list made.
struct TEmailOptimization {
  QStringList Attachments; // full paths, in list order
  QStringList Results;     // lines for the results box
  QString SubjectNames;
  bool Error = false;
};

class TEmailSizeDlg : public QDialog {
public:
  explicit TEmailSizeDlg(QWidget* parent = nullptr);
  ~TEmailSizeDlg() override;

  QLabel* LblExplain;
  QGroupBox* RGSpeed;
  QRadioButton* RbLarge;
  QRadioButton* RbMedium;
  QRadioButton* RbSmall;
  wn::TQrCheckBox* CBDontResize;
  wn::TQrCheckBox* CBShowResults;
  QLabel* LblList;
  QListWidget* FileListBox;
  rv::TRastrumView* ImgPreview;
  QLabel* LblPreviewName;
  QLabel* LblPreviewSize;
  kel::TKelProgressFill* PBProgress;
  kel::TKelShapeButton* SBtnContinue;
  kel::TKelShapeButton* SBtnCancel;
  kel::TKelShapeButton* SBtnShowFiles;
  kel::TKelShapeButton* SBtnClearList;
  kel::TKelShapeButton* SBtnMoreFiles;
  kel::TKelShapeButton* SBtnClearSelection;
  TQmQuickMail* QuickMail;
  // Where converted pictures go; tests point it at a folder of their own.
  std::function<std::string()> WorkFolder;

  // Adds each path not yet in the list.
  void StartWithFiles(const QStringList& Paths);
  // The selected names of a folder.
  void StartWithFiles(const QString& Folder, const QStringList& Names);
  void AddFile(const QString& Path);
  // What the e-mail command does: add the files, then show the dialog
  // without making it modal.
  void ShowWithFiles(const QStringList& Paths);

  const QStringList& Paths() const { return FPaths; }
  int SpeedIndex() const;
  void SetSpeedIndex(int Index);
  bool FilesShown() const { return FFilesShown; }

  // "Send Email": the optimisation, the results and the hand-off; the
  // dialog closes once the mail program has answered.
  void SBtnContinueClick();
  void SBtnCancelClick();
  void SBtnShowFilesClick();
  void SBtnClearListClick();
  void SBtnMoreFilesClick();
  void SBtnClearSelectionClick();
  void FileListBoxClick();

  // Shrinks what must shrink into Folder; Progress gets 3 steps a file.
  TEmailOptimization Optimize(const std::string& Folder, const std::function<void(int)>& Progress);
  // The results in the message dialog, modally.
  void ShowEmailOptimizationResults(const QStringList& Lines, bool Error);
  bool Sending() const;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void UpdateCaption();
  void UpdateCancelCaption();
  void ClearList();
  void ClearPreview();
  // The preview's picture is read on a worker; its name and size come with
  // it when the read ends. A read no longer wanted is dropped.
  void ReadPreview(const QString& Path);
  void DropPreviewRead();
  void PreviewRead(unsigned Serial);
  void LayoutFiles();
  void Finish(bool Sent);

  QStringList FPaths;
  bool FFilesShown = false;
  std::unique_ptr<TQmQuickMail> FQuickMail;
  // The preview's read asked for last, and the dropped ones whose workers
  // have not ended yet, by serial.
  std::unique_ptr<TPictureLoad> FPreviewRead;
  unsigned FPreviewSerial = 0;
  std::vector<std::pair<unsigned, std::unique_ptr<TPictureLoad>>> FDroppedPreviews;
};

// The one e-mail dialog of the program (set by the first one created).
extern TEmailSizeDlg* EmailSizeDlg;

} // namespace app
