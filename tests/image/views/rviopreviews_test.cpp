// The parameters-preview dialog driven by synthetic input: pages, coupled
// choices, the trial encodings read back as pixels, and files saved with the
// dialog's values read back with them.
#include "image/views/rviopreviews.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "image/io/gif/giflzw.h"
#include "image/io/rvioparams.h"
#include "image/model/rvpalettedlg.h"
#include "image/views/rastrumview.h"
#include "support/tempfolder.h"
#include "viewtest_support.h"

namespace {

using namespace rv;
using Dlg = TfIOPreviews;

using viewtest::Click;
using viewtest::Key;
using viewtest::Type;

// Four flat quadrants: red, green / blue, white (64 x 48).
constexpr int PicW = 64, PicH = 48;
constexpr QRgb Quadrant[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
constexpr QPoint QuadrantCentre[4] = {{16, 12}, {48, 12}, {16, 36}, {48, 36}};

void FillQuadrants(platform::TBitmap& B) {
  B.SetPixelFormat(platform::pf24bit);
  B.SetSize(PicW, PicH);
  for (int y = 0; y < PicH; ++y) {
    std::uint8_t* row = B.ScanLine(y);
    for (int x = 0; x < PicW; ++x) {
      const QRgb c = Quadrant[(y >= PicH / 2 ? 2 : 0) + (x >= PicW / 2 ? 1 : 0)];
      row[3 * x] = static_cast<std::uint8_t>(qBlue(c));
      row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
      row[3 * x + 2] = static_cast<std::uint8_t>(qRed(c));
    }
  }
}

// The rendered colour of bitmap pixel (X, Y) in a shown view.
QRgb Rendered(TRastrumView& View, int X, int Y) {
  const QImage shot = View.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const int f = View.FrameWidth();
  return shot.pixel(View.BitmapToScreenX(X) + f, View.BitmapToScreenY(Y) + f) & 0xFFFFFFu;
}

bool Near(QRgb A, QRgb B, int Tolerance) {
  return std::abs(qRed(A) - qRed(B)) <= Tolerance && std::abs(qGreen(A) - qGreen(B)) <= Tolerance &&
         std::abs(qBlue(A) - qBlue(B)) <= Tolerance;
}

class IOPreviews : public ::testing::Test {
protected:
  void SetUp() override {
    RvDefaultGifLzwCompress = GifLzwCompress;
    RvDefaultGifLzwDecompress = GifLzwDecompress;
    View = std::make_unique<TRastrumView>();
    platform::TBitmap picture;
    FillQuadrants(picture);
    View->Assign(&picture);
    IO = View->GetIO();
    IO->SimplifiedParamsDialogs = false;
  }
  void TearDown() override {
    RvDefaultGifLzwCompress = nullptr;
    RvDefaultGifLzwDecompress = nullptr;
  }

  // A dialog on the view's picture, as DoPreviews fills it; Open shows it.
  std::unique_ptr<Dlg> Make(bool Simplified) {
    auto d = std::make_unique<Dlg>();
    d->Params = &IO->Params();
    d->SimplifiedParamsDialogs = Simplified;
    d->Rastrum1->Assign(View->GetBitmap());
    return d;
  }
  std::unique_ptr<Dlg> Open(TRvPreviewPages Pages, bool Simplified = false) {
    auto d = Make(Simplified);
    EXPECT_TRUE(d->SetPreviewPages(Pages));
    d->show();
    return d;
  }

  // DoPreviews with Act run on the open dialog inside its modal loop.
  bool Run(TRvPreviewPages Pages, std::function<void(Dlg&)> Act) { return Run(*IO, Pages, Act); }
  static bool Run(TRastrumIO& IO, TRvPreviewPages Pages, std::function<void(Dlg&)> Act) {
    IO.OnIOPreview = [Act](void*, QWidget* Form) {
      auto* d = static_cast<Dlg*>(Form);
      QTimer::singleShot(0, d, [d, Act] {
        Act(*d);
        if (d->isVisible()) d->reject();
      });
    };
    return IO.DoPreviews(Pages);
  }

  std::unique_ptr<TRastrumView> View;
  TRastrumIO* IO = nullptr;
};

// ------------------------------------------------------------ opening

TEST_F(IOPreviews, PageSetsChooseThePagesShown) {
  struct Case {
    TRvPreviewPages Pages;
    TRvFileType FileType;
    bool Simplified;
    bool Accepted;
    std::vector<int> Shown;
  };
  const Case cases[] = {
      {pvpAuto, rvftWMF, false, false, {}},
      {0, rvftJPEG, false, false, {}},
      {pvpAuto, rvftJPEG, false, true, {Dlg::pgJPEG1}},
      {pvpAuto, rvftJ2K, true, true, {Dlg::pgJ20001}},
      {pvpAuto | pvpPNG, rvftGIF, false, true, {Dlg::pgGIF1, Dlg::pgPNG1}},
      {pvpAll, rvftUnknown, false, true,
       {Dlg::pgJPEG1, Dlg::pgTIFF1, Dlg::pgGIF1, Dlg::pgBMP1, Dlg::pgPCX1, Dlg::pgPNG1, Dlg::pgTGA1,
        Dlg::pgJ20001}},
      {pvpAll, rvftUnknown, true, true,
       {Dlg::pgJPEG2, Dlg::pgTIFF2, Dlg::pgGIF2, Dlg::pgBMP1, Dlg::pgPCX1, Dlg::pgPNG1, Dlg::pgTGA1,
        Dlg::pgJ20001}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "pages " << c.Pages << " type " << c.FileType);
    IO->Params().FileType = c.FileType;
    auto d = Make(c.Simplified);
    EXPECT_EQ(d->SetPreviewPages(c.Pages), c.Accepted);
    if (!c.Accepted) continue;
    d->show();
    std::vector<int> shown;
    for (int i = 0; i < Dlg::pgCount; ++i)
      if (d->PageControl1->isTabVisible(i)) shown.push_back(i);
    EXPECT_EQ(shown, c.Shown);
    EXPECT_EQ(d->ActivePage(), c.Shown.front());
  }
}

TEST_F(IOPreviews, OpensNothingWithoutAPageOrADialog) {
  bool opened = false;
  IO->OnIOPreview = [&](void*, QWidget*) { opened = true; };
  IO->Params().FileType = rvftWMF;
  EXPECT_FALSE(IO->DoPreviews(pvpAuto));
  EXPECT_FALSE(IO->DoPreviews(0));
  IO->OnDoPreviews = [](void*, bool& Handled) { Handled = true; };
  EXPECT_TRUE(IO->DoPreviews(pvpAll));
  IO->OnDoPreviews = nullptr;
  RvSetIOPreviewsDialog(nullptr);
  EXPECT_FALSE(IO->DoPreviews(pvpAll));
  // Every new view puts the dialog back.
  TRastrumView another;
  EXPECT_TRUE(RvHasIOPreviewsDialog());
  EXPECT_FALSE(opened);
}

TEST_F(IOPreviews, GrayPictureIsPreviewedInColour) {
  TRastrumIO alone;
  TRvBitmap& picture = *alone.RvBitmap();
  picture.Allocate(10, 4, rvpf8BitGray);
  for (int y = 0; y < 4; ++y) std::memset(picture.Scanline(y), 0x40 * y, 10);
  platform::TPixelFormat shown = platform::pfDevice;
  QRgb corner = 1;
  EXPECT_FALSE(Run(alone, pvpBMP, [&](Dlg& d) {
    shown = d.Rastrum1->GetBitmap()->PixelFormat();
    corner = Rendered(*d.Rastrum1, 9, 3);
  }));
  EXPECT_EQ(picture.PixelFormat(), rvpf24Bit);
  EXPECT_EQ(shown, platform::pf24bit);
  EXPECT_EQ(corner, 0xC0C0C0u);
}

TEST_F(IOPreviews, SimplifiedDialogIsCompact) {
  auto d = Open(pvpPNG, true);
  EXPECT_EQ(d->Rastrum1->Zoom(), d->Rastrum1->FitZoom());
  EXPECT_EQ(d->PageControl1->height(), 122);
  EXPECT_EQ(d->height(), 330);
  EXPECT_EQ(d->OriginalSize[Dlg::pgPNG1]->y(), 61);
  EXPECT_EQ(d->CompressedSize[Dlg::pgPNG1]->y(), 77);
  EXPECT_FALSE(d->PngAdvanced->isVisible());
  EXPECT_FALSE(d->Edit13->isVisible());
  auto f = Open(pvpPNG, false);
  EXPECT_TRUE(f->PngAdvanced->isVisible());
  EXPECT_GT(f->OriginalSize[Dlg::pgPNG1]->y(), 120);
}

TEST_F(IOPreviews, OriginalSizeCountsPaddedRows) {
  struct Case {
    int Width, Height;
    platform::TPixelFormat Format;
    const char* Text;
  };
  const Case cases[] = {
      {100, 10, platform::pf1bit, "160 bytes"},
      {PicW, PicH, platform::pf24bit, "9216 bytes"},
      {5, 3, platform::pf24bit, "48 bytes"},
  };
  for (const Case& c : cases) {
    platform::TBitmap picture(c.Width, c.Height, c.Format);
    View->Assign(&picture);
    auto d = Open(pvpBMP);
    EXPECT_EQ(d->OriginalSize[Dlg::pgBMP1]->text(), QString::fromLatin1(c.Text));
  }
}

TEST_F(IOPreviews, CaptionsComeFromTheWordTable) {
  Dlg d;
  d.ApplyLanguage(msItalian);
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Anteprima parametri"));
  EXPECT_EQ(d.Label1->text(), QStringLiteral("Originale:"));
  EXPECT_EQ(d.Button2->text(), QStringLiteral("Annulla"));
  EXPECT_EQ(d.SpeedButton1->toolTip(), QStringLiteral("Blocca anteprima"));
  EXPECT_EQ(d.PngAdvanced->title(), QStringLiteral(" Avanzate "));
  EXPECT_EQ(d.CheckBox6->text(), QStringLiteral("Interlacciato"));
  EXPECT_EQ(d.CheckBox5->text(), QStringLiteral("Interlacciato:"));
  EXPECT_EQ(d.CheckBox1->text(), QStringLiteral("Compressione:"));
}

TEST_F(IOPreviews, PictureWithoutPixelsHasNoSizes) {
  TRastrumIO alone;
  alone.SimplifiedParamsDialogs = false;
  std::vector<QString> sizes;
  EXPECT_FALSE(Run(alone, pvpAll, [&](Dlg& d) {
    for (int page : {Dlg::pgJPEG1, Dlg::pgTIFF1, Dlg::pgGIF1, Dlg::pgBMP1, Dlg::pgPCX1, Dlg::pgPNG1,
                     Dlg::pgTGA1, Dlg::pgJ20001}) {
      d.PageControl1->setCurrentIndex(page);
      sizes.push_back(d.OriginalSize[page]->text() + "|" + d.CompressedSize[page]->text());
    }
  }));
  // Nothing was written, so no compressed size is claimed.
  EXPECT_EQ(sizes, std::vector<QString>(8, QStringLiteral("0 bytes|---")));
}

TEST_F(IOPreviews, BlackAndWhiteSourceKeepsItsTwoColours) {
  platform::TBitmap picture(PicW, PicH, platform::pf1bit);
  for (int y = 0; y < PicH; ++y) std::memset(picture.ScanLine(y), y < PicH / 2 ? 0xFF : 0, 8);
  View->Assign(&picture);
  auto d = Open(pvpPNG);
  d->ComboBox10->setCurrentIndex(1); // 256 colours
  Click(d->Button3);
  const TIOParamsVals& trial = d->TrialIO().Params();
  ASSERT_EQ(trial.ColorMapCount, 2);
  EXPECT_EQ(trial.ColorMap[0].r + trial.ColorMap[0].g + trial.ColorMap[0].b, 0);
  EXPECT_EQ(trial.ColorMap[1].r + trial.ColorMap[1].g + trial.ColorMap[1].b, 3 * 255);
  EXPECT_EQ(Rendered(*d->Rastrum2, 10, 5), 0xFFFFFFu);
  EXPECT_EQ(Rendered(*d->Rastrum2, 10, PicH - 5), 0u);
  EXPECT_EQ(d->OriginalSize[Dlg::pgPNG1]->text(), QStringLiteral("384 bytes"));
}

// ------------------------------------------------------------ live preview

TEST_F(IOPreviews, LockDecidesWhenTheQualityReencodes) {
  auto d = Open(pvpJPEG);
  QLabel* size = d->CompressedSize[Dlg::pgJPEG1];
  const QString first = size->text();
  ASSERT_TRUE(first.endsWith(QStringLiteral(" bytes"))) << first.toStdString();
  EXPECT_EQ(d->CompressedSize[Dlg::pgJPEG2]->text(), first);
  EXPECT_TRUE(d->Button3->isEnabled());
  EXPECT_FALSE(d->Button4->isEnabled());

  // The bar shows the save, then the read-back, as halves of one run.
  std::vector<int> steps;
  QObject::connect(d->ProgressBar1, &QProgressBar::valueChanged, d.get(),
                   [&](int V) { steps.push_back(V); });
  Click(d->Button3);
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps.back(), 0);
  steps.pop_back();
  EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
  EXPECT_LT(steps.front(), 50);
  EXPECT_EQ(steps.back(), 100);

  // Unlocked: the edit follows the bar, only the button encodes.
  d->TrackBar13->setFocus();
  Key(d->TrackBar13, Qt::Key_Home);
  EXPECT_EQ(d->Edit22->text(), QStringLiteral("0"));
  EXPECT_EQ(size->text(), first);
  EXPECT_TRUE(d->Button4->isEnabled());
  Click(d->Button3);
  const QString low = size->text();
  EXPECT_LT(low.section(' ', 0, 0).toInt(), first.section(' ', 0, 0).toInt());

  // Locked: every move encodes at once.
  Click(d->SpeedButton1);
  EXPECT_FALSE(d->Button3->isEnabled());
  Key(d->TrackBar13, Qt::Key_End);
  EXPECT_EQ(d->Edit22->text(), QStringLiteral("100"));
  EXPECT_GT(size->text().section(' ', 0, 0).toInt(), low.section(' ', 0, 0).toInt());
  // Typing moves the bar; what is no number counts as 50.
  Type(d->Edit22, QStringLiteral("x"));
  EXPECT_EQ(d->TrackBar13->value(), 50);
  EXPECT_EQ(d->WorkingValues().JpegQuality, 50);
}

TEST_F(IOPreviews, ResultFollowsTheSourceZoomAndScroll) {
  auto d = Open(pvpPNG);
  d->ComboBox10->setCurrentIndex(2); // 16M: the result is the source itself
  Click(d->Button3);
  d->Rastrum1->SetZoom(400);
  d->Rastrum1->SetViewXY(70, 50);
  EXPECT_EQ(d->Rastrum2->Zoom(), 400);
  EXPECT_EQ(d->Rastrum2->ViewX(), d->Rastrum1->ViewX());
  EXPECT_EQ(d->Rastrum2->ViewY(), d->Rastrum1->ViewY());
  const QImage a = d->Rastrum1->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage b = d->Rastrum2->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(a, b);
  // The point shown at the top left is bitmap pixel (70 / 4, 50 / 4): green.
  EXPECT_EQ(Rendered(*d->Rastrum2, 40, 12), Quadrant[1]);
}

TEST_F(IOPreviews, TrialEncodingsShowWhatTheFileHolds) {
  // Gray by the library's weights, and by the JPEG library's own.
  const QRgb gray[4] = {0x353535, 0xB5B5B5, 0x141414, 0xFFFFFF};
  const QRgb jpegGray[4] = {0x4C4C4C, 0x969696, 0x1D1D1D, 0xFFFFFF};
  const QRgb* source = Quadrant;
  struct Case {
    TRvPreviewPages Pages;
    std::function<void(Dlg&)> Set;
    const QRgb* Expected; // nullptr: every pixel black or white
    int Tolerance;
    const char* Bytes; // exact size, or nullptr
  };
  const Case cases[] = {
      {pvpJPEG, [](Dlg& d) { d.Edit22->setText("100"); }, source, 6, nullptr},
      {pvpJPEG,
       [](Dlg& d) {
         d.Edit22->setText("100");
         d.ComboBox13->setCurrentIndex(1);
       },
       jpegGray, 2, nullptr},
      {pvpJPEG2000, [](Dlg& d) { d.Edit15->setText("1000"); }, source, 0, nullptr},
      {pvpTIFF, [](Dlg& d) { d.ComboBox4->setCurrentIndex(4); }, source, 0, nullptr},
      {pvpTIFF, [](Dlg& d) { d.ComboBox3->setCurrentIndex(1); }, gray, 0, nullptr},
      {pvpBMP, [](Dlg& d) { d.ComboBox7->setCurrentIndex(4); }, source, 0, "9270 bytes"},
      {pvpBMP, [](Dlg& d) { d.ComboBox7->setCurrentIndex(0); }, nullptr, 0, "446 bytes"},
      {pvpPCX, [](Dlg& d) { d.ComboBox9->setCurrentIndex(1); }, source, 8, nullptr},
      {pvpPNG, [](Dlg& d) { d.ComboBox10->setCurrentIndex(0); }, nullptr, 0, nullptr},
      {pvpTGA, [](Dlg& d) { d.ComboBox14->setCurrentIndex(2); }, source, 0, nullptr},
      {pvpGIF, [](Dlg& d) { d.ComboBox5->setCurrentIndex(1); }, source, 8, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "pages " << c.Pages);
    auto d = Open(c.Pages);
    c.Set(*d);
    Click(d->Button3);
    const int page = d->ActivePage();
    const QString size = d->CompressedSize[page]->text();
    EXPECT_TRUE(size.endsWith(QStringLiteral(" bytes"))) << size.toStdString();
    if (c.Bytes != nullptr) {
      EXPECT_EQ(size, QString::fromLatin1(c.Bytes));
    }
    for (int q = 0; q < 4; ++q) {
      const QRgb got = Rendered(*d->Rastrum2, QuadrantCentre[q].x(), QuadrantCentre[q].y());
      if (c.Expected == nullptr)
        EXPECT_TRUE(got == 0 || got == 0xFFFFFF) << std::hex << got;
      else
        EXPECT_TRUE(Near(got, c.Expected[q], c.Tolerance)) << q << " " << std::hex << got;
    }
    EXPECT_EQ(d->ProgressBar1->value(), 0);
  }
}

// ------------------------------------------------------------ coupled choices

TEST_F(IOPreviews, TiffColoursAndPhotometricFollowEachOther) {
  struct Case {
    int Photometric, Colors; // before
    bool ChooseColors;       // else the photometric is chosen
    int Choice;
    int Photometric2, Colors2; // after
  };
  const Case cases[] = {
      {2, 4, true, 0, 1, 0},  // B/W from RGB: BlackIsZero
      {0, 4, true, 0, 0, 0},  // B/W keeps WhiteIsZero
      {2, 4, true, 1, 3, 1},  // 16: palette
      {1, 4, true, 2, 1, 2},  // 256 keeps BlackIsZero
      {6, 4, true, 2, 3, 2},  // 256 from YCbCr: palette
      {2, 4, false, 0, 0, 2}, // WhiteIsZero: 256
      {2, 0, false, 1, 1, 0}, // BlackIsZero keeps B/W
      {0, 0, false, 3, 3, 2}, // palette: 256
      {0, 2, false, 7, 7, 4}, // CIELab: 16M
      {0, 2, false, 4, 4, 2}, // mask: unchanged
  };
  auto d = Open(pvpTIFF);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Photometric << "/" << c.Colors << " -> " << c.Choice);
    {
      const QSignalBlocker a(d->ComboBox3), b(d->ComboBox4);
      d->ComboBox3->setCurrentIndex(c.Photometric);
      d->ComboBox4->setCurrentIndex(c.Colors);
    }
    (c.ChooseColors ? d->ComboBox4 : d->ComboBox3)->setCurrentIndex(c.Choice);
    EXPECT_EQ(d->ComboBox3->currentIndex(), c.Photometric2);
    EXPECT_EQ(d->ComboBox4->currentIndex(), c.Colors2);
  }
  // CMYK is always four 8-bit samples.
  d->ComboBox3->setCurrentIndex(5);
  EXPECT_EQ(d->WorkingValues().TiffBits, 8);
  EXPECT_EQ(d->WorkingValues().TiffSamples, 4);
}

TEST_F(IOPreviews, SimplifiedTiffFaxMeansTwoColours) {
  auto d = Open(pvpTIFF, true);
  d->ComboBox17->setCurrentIndex(3);
  d->ComboBox16->setCurrentIndex(4); // G4Fax
  EXPECT_EQ(d->ComboBox17->currentIndex(), 0);
  EXPECT_EQ(d->WorkingValues().TiffCompression, 4);
  d->ComboBox17->setCurrentIndex(2); // 256 colours: no fax
  EXPECT_EQ(d->ComboBox16->currentIndex(), 0);
  d->ComboBox16->setCurrentIndex(6);
  EXPECT_EQ(d->WorkingValues().TiffCompression, 8);
  EXPECT_EQ(d->WorkingValues().TiffBits, 8);
  EXPECT_EQ(d->WorkingValues().TiffSamples, 1);
}

// ------------------------------------------------------------ colour panels

TEST_F(IOPreviews, BackgroundPaletteShowsNoMoreColoursThanTheMapHolds) {
  for (TRvPreviewPages pages : {pvpPNG, pvpTGA}) {
    SCOPED_TRACE(pages);
    auto d = Open(pages);
    const bool png = pages == pvpPNG;
    QComboBox* colors = png ? d->ComboBox10 : d->ComboBox14;
    TRvColorPanel* panel = png ? d->Panel1 : d->Panel5;
    colors->setCurrentIndex(0);
    Click(d->Button3); // a map of two entries
    ASSERT_EQ(d->TrialIO().Params().ColorMapCount, 2);
    int shown = -1;
    for (int choice : {1, 2}) {
      // More colours chosen, not yet previewed: the map is still two long.
      colors->setCurrentIndex(choice);
      QTimer::singleShot(0, d.get(), [&] {
        shown = d->PaletteDialog1->Count();
        d->PaletteDialog1->FormMouseMove(20, 5); // entry 1, white
        d->PaletteDialog1->FormClick(20, 5);
      });
      Click(panel);
      EXPECT_EQ(shown, 2);
      EXPECT_EQ(panel->Color(), platform::clWhite);
    }
    EXPECT_EQ(png ? d->WorkingValues().PngBackground : d->WorkingValues().TgaKeyColor, platform::clWhite);
    EXPECT_TRUE(d->Button4->isEnabled());
    // 16M previewed: no map, the colour dialog answers.
    Click(d->Button3);
    EXPECT_EQ(d->TrialIO().Params().ColorMap, nullptr);
    bool colorDialog = false;
    QTimer::singleShot(0, d.get(), [&] {
      colorDialog = d->ColorDialog1->isVisible();
      d->ColorDialog1->setCurrentColor(QColor(0x12, 0x34, 0x56));
      d->ColorDialog1->accept();
    });
    Click(panel);
    EXPECT_TRUE(colorDialog);
    EXPECT_EQ(panel->Color(), static_cast<platform::TColor>(0x563412));
  }
}

TEST_F(IOPreviews, GifPanelsTakeTheirColourFromThePreviewMap) {
  auto d = Open(pvpGIF);
  d->ApplyLanguage(msItalian);
  d->ComboBox5->setCurrentIndex(0); // B/W
  Click(d->Button3);
  QString cancel;
  QTimer::singleShot(0, d.get(), [&] {
    cancel = d->PaletteDialog1->CancelButton()->text();
    d->PaletteDialog1->FormMouseMove(20, 5);
    d->PaletteDialog1->FormClick(20, 5);
  });
  Click(d->Panel4);
  EXPECT_EQ(cancel, QStringLiteral("&Annulla"));
  EXPECT_EQ(d->WorkingValues().GifBackground, platform::clWhite);
  QTimer::singleShot(0, d.get(), [&] { d->PaletteDialog1->CancelButton()->click(); });
  Click(d->Panel3);
  EXPECT_EQ(d->WorkingValues().GifTransparentColor, platform::clBlack);
}

// ------------------------------------------------------------ OK, Apply, Cancel

TEST_F(IOPreviews, CancelAfterApplyKeepsTheAppliedValues) {
  IO->SetPreviewsParams(ioppApplyButton);
  bool applyShown = false;
  const bool ok = Run(pvpJPEG, [&](Dlg& d) {
    applyShown = d.Button4->isVisible();
    Type(d.Edit22, QStringLiteral("90"));
    EXPECT_TRUE(d.Button4->isEnabled());
    Click(d.Button4);
    EXPECT_FALSE(d.Button4->isEnabled());
    Type(d.Edit22, QStringLiteral("20"));
    Click(d.Button2);
  });
  EXPECT_FALSE(ok);
  EXPECT_TRUE(applyShown);
  EXPECT_EQ(IO->Params().JpegQuality, 90);

  IO->SetPreviewsParams(ioppDefaultLockPreview);
  bool locked = false;
  EXPECT_FALSE(Run(pvpJPEG, [&](Dlg& d) {
    applyShown = d.Button4->isVisible();
    locked = d.SpeedButton1->isChecked() && !d.Button3->isEnabled();
    Type(d.Edit22, QStringLiteral("20"));
  }));
  EXPECT_FALSE(applyShown);
  EXPECT_TRUE(locked);
  EXPECT_EQ(IO->Params().JpegQuality, 90);
}

TEST_F(IOPreviews, NumbersKeepWithinWhatTheirFieldsHold) {
  struct Case {
    TRvPreviewPages Pages;
    QLineEdit* Dlg::*Edit;
    const char* Text;
    int TRvPreviewValues::*Value;
    int Expected;
  };
  const Case cases[] = {
      {pvpJPEG, &Dlg::Edit22, "150", &TRvPreviewValues::JpegQuality, 100},
      {pvpJPEG, &Dlg::Edit23, "-3", &TRvPreviewValues::JpegSmoothing, 0},
      {pvpGIF, &Dlg::Edit12, "70000", &TRvPreviewValues::GifDelayTime, 65535},
      {pvpGIF, &Dlg::Edit10, "-1", &TRvPreviewValues::GifXPos, 0},
      {pvpGIF, &Dlg::Edit9, "2000", &TRvPreviewValues::GifImageIndex, 1000},
      {pvpTIFF, &Dlg::Edit1, "1001", &TRvPreviewValues::TiffImageIndex, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    auto d = Open(c.Pages);
    Type((*d).*c.Edit, QString::fromLatin1(c.Text));
    EXPECT_EQ(d->WorkingValues().*c.Value, c.Expected);
  }
}

TEST_F(IOPreviews, SwitchingPagesDropsEditsNotApplied) {
  auto d = Open(pvpAll);
  Type(d->Edit22, QStringLiteral("77"));
  EXPECT_TRUE(d->Button4->isEnabled());
  d->PageControl1->setCurrentIndex(Dlg::pgBMP1);
  EXPECT_FALSE(d->Button4->isEnabled());
  EXPECT_NE(d->CompressedSize[Dlg::pgBMP1]->text(), QStringLiteral("---"));
  d->PageControl1->setCurrentIndex(Dlg::pgJPEG1);
  EXPECT_EQ(d->Edit22->text(), QString::number(IO->Params().JpegQuality));
}

// Files written with the values chosen in the dialog read back with them.
TEST_F(IOPreviews, SavedFilesReloadWithTheChosenValues) {
  using P = TIOParamsVals;
  struct Case {
    TRvPreviewPages Pages;
    bool Simplified;
    const char* File;
    std::function<void(Dlg&)> Set;
    std::function<void(const P&)> Check;
  };
  const Case cases[] = {
      {pvpJPEG, false, "a.jpg", [](Dlg& d) { d.ComboBox13->setCurrentIndex(1); d.CheckBox3->setChecked(true); },
       [](const P& p) { EXPECT_EQ(p.JpegColorSpace, 1); EXPECT_TRUE(p.JpegProgressive); }},
      {pvpTIFF, false, "a.tif",
       [](Dlg& d) {
         d.ComboBox2->setCurrentIndex(8);
         d.ComboBox4->setCurrentIndex(4);
         const char* texts[5] = {"scan", "first page", "front", "2", "5"};
         for (int i = 0; i < 5; ++i) Type(d.TiffEdit[i + 2], QString::fromLatin1(texts[i]));
       },
       [](const P& p) {
         EXPECT_EQ(p.TiffCompression, 8);
         EXPECT_EQ(p.SamplesPerPixel, 3);
         EXPECT_EQ(p.TiffDocumentName + "|" + p.TiffImageDescription + "|" + p.TiffPageName, "scan|first page|front");
         EXPECT_EQ(p.TiffPageNumber * 10 + p.TiffPageCount, 25);
       }},
      {pvpTIFF, true, "b.tif", [](Dlg& d) { d.ComboBox16->setCurrentIndex(4); },
       [](const P& p) { EXPECT_EQ(p.TiffCompression, 4); EXPECT_EQ(p.BitsPerSample, 1); }},
      {pvpGIF, false, "a.gif",
       [](Dlg& d) { d.ComboBox5->setCurrentIndex(3); d.CheckBox5->setChecked(true); Type(d.Edit12, "25"); },
       [](const P& p) { EXPECT_EQ(p.BitsPerSample, 4); EXPECT_TRUE(p.GifInterlaced); EXPECT_EQ(p.GifDelayTime, 25); }},
      {pvpBMP, false, "a.bmp", [](Dlg& d) { d.ComboBox6->setCurrentIndex(1); d.ComboBox7->setCurrentIndex(2); },
       [](const P& p) { EXPECT_EQ(p.BmpCompression, 1); EXPECT_EQ(p.BitsPerSample * 10 + p.SamplesPerPixel, 81); }},
      {pvpPCX, false, "a.pcx", [](Dlg& d) { d.ComboBox8->setCurrentIndex(0); d.ComboBox9->setCurrentIndex(3); },
       [](const P& p) { EXPECT_EQ(p.PcxCompression, 0); EXPECT_EQ(p.SamplesPerPixel, 3); }},
      {pvpPNG, false, "a.png", [](Dlg& d) { d.ComboBox10->setCurrentIndex(0); d.CheckBox6->setChecked(true); },
       [](const P& p) { EXPECT_EQ(p.BitsPerSample, 1); EXPECT_TRUE(p.PngInterlaced); }},
      {pvpTGA, false, "a.tga",
       [](Dlg& d) { d.CheckBox1->setChecked(false); Type(d.Edit13, "job"); Type(d.Edit14, "id"); },
       [](const P& p) { EXPECT_FALSE(p.TgaCompressed); EXPECT_EQ(p.TgaJobName + "|" + p.TgaImageId, "job|id"); }},
      {pvpJPEG2000, false, "a.jp2", [](Dlg& d) { d.ComboBox15->setCurrentIndex(0); },
       [](const P& p) { EXPECT_EQ(p.BitsPerSample * 10 + p.SamplesPerPixel, 81); }},
  };
  testing_support::TTempFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    IO->SimplifiedParamsDialogs = c.Simplified;
    ASSERT_TRUE(Run(c.Pages, [&c](Dlg& d) {
      c.Set(d);
      Click(d.Button1);
    }));
    const std::string path = folder.File(c.File);
    IO->SaveToFile(path);
    ASSERT_FALSE(IO->Aborting);
    TRastrumIO back;
    back.LoadFromFile(path);
    ASSERT_FALSE(back.Aborting);
    c.Check(back.Params());
  }
}

} // namespace
