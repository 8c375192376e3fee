// The e-mail wizard: collects pictures to mail, shrinks the ones too large
// for the chosen connection speed into the work folder, and hands the files
// to the mail sender. Made once at start-up; its list lasts between showings.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
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

class TEmailReduction;
class TPreviewReads;
class TQmQuickMail;
template <class TRead>
class TNewestRead;

// Byte limit of a picture for each connection speed (item index of RGSpeed).
int EmailSizeLimit(int SpeedIndex);
// The scale of a picture whose size ratio (limit over size, weighted) is
// Ratio: rounded to hundredths, down to a multiple of 4, plus 4, at most 1.
double EmailScaleFactor(double Ratio);

// What the optimisation of one list made.
struct TEmailOptimization {
  std::vector<std::string> Attachments; // full paths, in list order
  QStringList Results;     // lines for the results box
  QString SubjectNames;
  bool Error = false;
  // The reduced copies made in the work folder.
  std::vector<std::string> WorkFiles;
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

  // Adds each path not yet in the list. Paths are kept as their bytes from
  // the list to the mail program: a name need not be UTF-8, and its text
  // would name another file.
  void StartWithFiles(const std::vector<std::string>& Paths);
  // The selected names of a folder.
  void StartWithFiles(const std::string& Folder, const std::vector<std::string>& Names);
  void AddFile(const std::string& Path);
  // What the e-mail command does: add the files, then show the dialog
  // without making it modal.
  void ShowWithFiles(const std::vector<std::string>& Paths);

  const std::vector<std::string>& Paths() const { return FPaths; }
  int SpeedIndex() const;
  void SetSpeedIndex(int Index);
  bool FilesShown() const { return FFilesShown; }

  // "Send Email": the optimisation on a worker, with the progress shown and
  // "Cancel" stopping it; then the results and the hand-off. The dialog
  // closes once the mail program has answered.
  void SBtnContinueClick();
  void SBtnCancelClick();
  void SBtnShowFilesClick();
  void SBtnClearListClick();
  void SBtnMoreFilesClick();
  void SBtnClearSelectionClick();
  void FileListBoxClick();

  // Shrinks what must shrink into Folder on the calling thread; Progress
  // gets 3 steps a file.
  TEmailOptimization Optimize(const std::string& Folder, const std::function<void(int)>& Progress);
  // The results in the message dialog, modally.
  void ShowEmailOptimizationResults(const QStringList& Lines, bool Error);
  // From "Send Email" until the mail program has answered.
  bool Sending() const;
  // The optimisation of "Send Email" is under way.
  bool Reducing() const;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void UpdateCaption();
  void UpdateCancelCaption();
  void ClearList();
  void ClearPreview();
  void LayoutFiles();
  // The optimisation's end on the window's thread: the results and the
  // hand-off to the mail program.
  void Reduced(unsigned Serial);
  // Stops the optimisation under way; nothing is sent.
  void StopReducing();
  // While the optimisation runs only "Cancel" (and the window's own close)
  // acts: the list and the options stay as the run took them.
  void EnableForReducing(bool Reducing);
  void Finish(bool Sent);

  std::vector<std::string> FPaths;
  bool FFilesShown = false;
  bool FSending = false;
  std::unique_ptr<TQmQuickMail> FQuickMail;
  // The preview's picture is read on a worker; its name and size come with
  // it when the read ends.
  std::unique_ptr<TPreviewReads> FPreview;
  std::unique_ptr<TNewestRead<TEmailReduction>> FReductions;
};

// The one e-mail dialog of the program (set by the first one created).
extern TEmailSizeDlg* EmailSizeDlg;

} // namespace app
