// The parameters-preview dialog: the save parameters of one format chosen
// beside the source picture, the picture as it will come out of the file
// and the byte sizes before and after compression. It edits working values
// and writes them into the caller's parameter record only on OK or Apply.
#pragma once

#include <QDialog>
#include <QFrame>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/io/lzwhooks.h"
#include "image/io/rastrumio.h"
#include "image/model/rvmsglanguage.h"
#include "platform/colors.h"

class QCheckBox;
class QColorDialog;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTabWidget;
class QToolButton;

namespace rv {

class TIOParamsVals;
class TRastrumPaletteDialog;
class TRastrumProc;
class TRastrumView;
class TRvUpDown;

// A colour swatch that answers clicks.
class TRvColorPanel : public QFrame {
public:
  explicit TRvColorPanel(QWidget* Parent = nullptr);
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor Value);
  std::function<void()> OnClick;

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

private:
  platform::TColor FColor = platform::clBlack;
};

// What the format pages edit; colours as class-library colours.
struct TRvPreviewValues {
  int JpegQuality = 50;
  int JpegColorSpace = 2;
  int JpegDctMethod = 0;
  bool JpegOptimalHuffman = false;
  int JpegSmoothing = 0;
  bool JpegProgressive = false;

  double J2000Rate = 1.0;
  int J2000ColorSpace = 1;

  TTiffLzwDecompressProc TiffLzwDecompress = nullptr;
  TTiffLzwCompressProc TiffLzwCompress = nullptr;
  int TiffCompression = 0;
  int TiffImageIndex = 0;
  int TiffPhotometric = 2;
  int TiffXPos = 0;
  int TiffYPos = 0;
  std::string TiffDocumentName;
  std::string TiffImageDescription;
  std::string TiffPageName;
  int TiffPageNumber = 0;
  int TiffPageCount = 0;
  int TiffBits = 8;
  int TiffSamples = 3;

  int GifImageIndex = 0;
  int GifXPos = 0;
  int GifYPos = 0;
  int GifDelayTime = 0;
  bool GifHasTransparentColor = false;
  platform::TColor GifTransparentColor = platform::clBlack;
  bool GifInterlaced = false;
  platform::TColor GifBackground = platform::clBlack;
  TGifLzwDecompressProc GifLzwDecompress = nullptr;
  TGifLzwCompressProc GifLzwCompress = nullptr;
  int GifBits = 8;

  int BmpCompression = 0;
  int BmpColors = 4;
  int PcxCompression = 1;
  int PcxColors = 3;

  int PngColors = 2;
  bool PngInterlaced = false;
  platform::TColor PngBackground = platform::clBlack;
  int PngFilter = 0;
  int PngCompression = 5;

  int TgaColors = 2;
  platform::TColor TgaKeyColor = platform::clBlack;
  bool TgaCompressed = true;
  std::string TgaJobName;
  std::string TgaImageId;

  bool operator==(const TRvPreviewValues&) const = default;
};

class TfIOPreviews : public QDialog {
public:
  // The pages, in the order of their tabs.
  enum TPage {
    pgJPEG1, pgJPEG2, pgTIFF1, pgTIFF2, pgGIF1, pgGIF2, pgBMP1, pgPCX1, pgPNG1, pgTGA1, pgJ20001,
    pgCount
  };

  explicit TfIOPreviews(QWidget* Owner = nullptr);
  ~TfIOPreviews() override;

  // Set by the opener before showing: the record written on OK and Apply,
  // the simplified pages and whether the preview starts locked.
  TIOParamsVals* Params = nullptr;
  bool SimplifiedParamsDialogs = false;
  bool DefaultLockPreview = false;

  void ApplyLanguage(TMsgLanguage Language);
  // Stores Pages, pvpAuto adding the page of the record's file type; false
  // when no page is left to show.
  bool SetPreviewPages(TRvPreviewPages Pages);
  TRvPreviewPages PreviewPages() const { return FPages; }
  // The trial encoding of the active page, shown in Target.
  void DoPreview(TRastrumView* Target);

  // -1 before activation or without a visible page.
  int ActivePage() const;
  const TRvPreviewValues& WorkingValues() const { return FValues; }
  TRastrumIO& TrialIO() { return *FIO; }

  // The form's event routines.
  void FormActivate();
  void PageControl1Changing();
  void PageControl1Change();
  void Rastrum1ViewChange();
  void Button1Click();
  void Button3Click();
  void Button4Click();
  void SpeedButton1Click();
  void Panel1Click();
  void Panel3Click();
  void Panel4Click();
  void Panel5Click();

  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet[pgCount] = {};
  QWidget* Panel2 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  TRastrumView* Rastrum1 = nullptr;
  TRastrumView* Rastrum2 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QColorDialog* ColorDialog1 = nullptr;
  TRastrumPaletteDialog* PaletteDialog1 = nullptr;
  QLabel* OriginalSize[pgCount] = {};
  QLabel* CompressedSize[pgCount] = {};

  // JPEG.
  QLineEdit* Edit22 = nullptr;
  QSlider* TrackBar13 = nullptr;
  QComboBox* ComboBox13 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QCheckBox* CheckBox2 = nullptr;
  QLineEdit* Edit23 = nullptr;
  TRvUpDown* UpDown11 = nullptr;
  QCheckBox* CheckBox3 = nullptr;
  QLineEdit* Edit16 = nullptr;
  QSlider* TrackBar2 = nullptr;
  // TIFF.
  QComboBox* ComboBox2 = nullptr;
  QLineEdit* Edit1 = nullptr;
  TRvUpDown* UpDown1 = nullptr;
  QComboBox* ComboBox3 = nullptr;
  QComboBox* ComboBox4 = nullptr;
  QLineEdit* TiffEdit[7] = {}; // Edit2 .. Edit8
  QComboBox* ComboBox16 = nullptr;
  QComboBox* ComboBox17 = nullptr;
  // GIF.
  QLineEdit* Edit9 = nullptr;
  TRvUpDown* UpDown2 = nullptr;
  QComboBox* ComboBox5 = nullptr;
  QCheckBox* CheckBox4 = nullptr;
  TRvColorPanel* Panel3 = nullptr;
  QCheckBox* CheckBox5 = nullptr;
  TRvColorPanel* Panel4 = nullptr;
  QLineEdit* Edit12 = nullptr;
  QLineEdit* Edit10 = nullptr;
  QLineEdit* Edit11 = nullptr;
  QComboBox* ComboBox18 = nullptr;
  // BMP, PCX.
  QComboBox* ComboBox6 = nullptr;
  QComboBox* ComboBox7 = nullptr;
  QComboBox* ComboBox8 = nullptr;
  QComboBox* ComboBox9 = nullptr;
  // PNG.
  QComboBox* ComboBox10 = nullptr;
  TRvColorPanel* Panel1 = nullptr;
  QGroupBox* PngAdvanced = nullptr;
  QComboBox* ComboBox11 = nullptr;
  QCheckBox* CheckBox6 = nullptr;
  QComboBox* ComboBox12 = nullptr;
  // TGA.
  QComboBox* ComboBox14 = nullptr;
  TRvColorPanel* Panel5 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QLineEdit* Edit13 = nullptr;
  QLineEdit* Edit14 = nullptr;
  // JPEG 2000.
  QLineEdit* Edit15 = nullptr;
  QSlider* TrackBar1 = nullptr;
  QComboBox* ComboBox15 = nullptr;

protected:
  void showEvent(QShowEvent* Event) override;

private:
  enum TCaptionKind : std::uint8_t { ckText, ckColon, ckSpaced, ckHint, ckTitle };
  struct TCaption {
    QObject* Target;
    int Word;
    TCaptionKind Kind;
  };

  void BuildJpegPages();
  void BuildTiffPages();
  void BuildGifPages();
  void BuildSimplePages();
  void BuildSizeLabels(int Page);
  // The working values from the caller's record.
  void LoadValues();
  // Every control shows its working value; the handlers rest meanwhile.
  void FillPages();
  // The controls of Page into Values.
  void ReadPage(int Page, TRvPreviewValues& Values) const;
  void WriteValues();
  // A control of the active page changed.
  void ParamsChange();
  void TrackBarChange(QSlider* TrackBar, QLineEdit* Edit);
  void EditChange(QLineEdit* Edit, QSlider* TrackBar, int Default);
  void TiffColorsChange();
  void TiffPhotometricChange();
  void TiffSimpleCompressionChange();
  void TiffSimpleColorsChange();
  void StepEdit(QLineEdit* Edit, bool Up, int Maximum);
  // The palette dialog on the trial record's map with at most Colors
  // entries, or the colour dialog when WithColorDialog and there is no map.
  bool ChooseColor(TRvColorPanel* Panel, std::int64_t Colors, bool WithColorDialog);
  void ShowCompressed(int Page, int Twin, const QString& Text);
  // Target's copy of the source reduced to Colors colours; WithMap puts the
  // palette into the trial record.
  void ReduceCopy(TRastrumView* Target, std::int64_t Colors, bool WithMap);
  void SyncResultView();
  void PlaceSizeLabels(int Page, int Row1, int Row2);
  void Register(QObject* Target, int Word, TCaptionKind Kind);
  // A label for Buddy, captioned from the word table.
  QLabel* AddCaption(QWidget* Page, const char* Text, int Word, QWidget* Buddy, int X, int Y,
                     int Width = 112, TCaptionKind Kind = ckColon);

  std::unique_ptr<TRastrumIO> FIO;
  std::unique_ptr<TRastrumProc> FProc;
  std::vector<TCaption> FCaptions;
  QLabel* FSizeCaption[pgCount][2] = {};
  std::vector<QWidget*> FTgaExtras;
  TRvPreviewValues FValues;
  TRvPreviewPages FPages = 0;
  QString FPaletteCancel;
  int FProgressBase = 0;
  int FProgressDivisor = 1;
  bool FReady = false;
  bool FActivated = false;
  bool FActivating = false;
};

// DoPreviews of an input/output component: the dialog over Owner, filled
// from IO; true when it closed with OK.
bool RvShowIOPreviews(TRastrumIO& IO, TRvPreviewPages Pages, QWidget* Owner);
// Makes RvShowIOPreviews the dialog of every input/output component (once;
// every picture view does it when it is created).
void RvInstallIOPreviews();

} // namespace rv
