// The main window's commands: one list of named commands that the menus,
// the tool-bar buttons and the keys all run; the rule that enables them; the
// mouse modes with the magnifier; the zoom box and bar.
#include "app/folderview.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/mainform.h"
#include "app/aboutdlg.h"
#include "app/dialogglyphs.h"
#include "app/emailsizedlg.h"
#include "app/optionsform.h"
#include "app/openfolderdlg.h"
#include "app/pictureutil.h"
#include "app/renamedlg.h"
#include "app/saveasform.h"
#include "app/toolbox.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/wnutils/wnproperties.h"
#include "image/io/rastrumio.h"
#include "image/io/rvsafeio.h"
#include "image/model/rastrumproc.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "platform/openurl.h"
#include "platform/shfileop.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <new>

namespace app {

std::function<bool(const QString& command)> TMainForm::CommandTrace;

// The tool box works on the main window's picture through this.
class TMainToolBoxHost : public TToolBoxHost {
public:
  explicit TMainToolBoxHost(TMainForm& form) : Form(form) {}
  void RotateImage(int angle) override { Form.RotateImage(angle); }
  void FlipImage(int direction) override { Form.FlipImage(direction); }
  void ResizeImage(int width, int height) override { Form.ResizeImage(width, height); }
  void ReloadImage() override { Form.ReloadImage(); }
  void SaveModifiedImage() override { Form.SaveModifiedImage(); }
  bool HasImage() const override { return Form.HasImage(); }
  bool IsImageModified() const override { return Form.IsImageModified(); }
  bool IsNewImage() const override { return Form.IsNewImage(); }
  bool ToolBoxSaveBlocked() const override { return Form.SlideShowTimerOn(); }
  QSize PictureSize() const override {
    // The picture as it is now: a resize or a turn changes it, while the
    // input/output parameters keep the size the file was read at.
    if (Form.HasImage()) {
      const platform::TBitmap* bitmap = Form.RastrumView1->GetBitmap();
      return {bitmap->Width(), bitmap->Height()};
    }
    const rv::TIOParamsVals& params = Form.RastrumView1->GetIO()->Params();
    return {params.Width, params.Height};
  }

private:
  TMainForm& Form;
};

namespace {

constexpr platform::TColor GlyphTransparent = 0x008080; // olive, as the dialogs' glyphs

// The zoom cursor of the zoom mouse mode.
constexpr platform::TCursor ZoomCursor = rv::crRvZoomIn;
// The largest zoom the box and the bar offer.
constexpr double MaxZoomPercent = 3200;

const char* const BackgroundStyleCaptions[11] = {
    "Solid",          "Horizontal Lines", "Vertical Lines", "Forward Diagonal", "Backward Diagonal", "Cross",
    "Diagonal Cross", "Chessboard",       "Diagonals",      "Bevel Frame",      "Shadow Frame"};

const char* const TransitionEffectCaptions[31] = {
    "None",
    "Cross Dissolve",
    "Fade Out",
    "Fade In",
    "Fade Out Then In",
    "Wipe Left to Right",
    "Wipe Left to Right (Soft)",
    "Wipe Right to Left",
    "Wipe Right to Left (Soft)",
    "Wipe Top to Bottom",
    "Wipe Top to Bottom (Soft)",
    "Wipe Bottom to Top",
    "Wipe Bottom to Top (Soft)",
    "From Upper Left",
    "From Upper Right",
    "From Lower Left",
    "From Lower Right",
    "Push Left to Right",
    "Push Left to Right (Soft)",
    "Push Right to Left",
    "Push Right to Left (Soft)",
    "Push Top to Bottom",
    "Push Top to Bottom (Soft)",
    "Push Bottom to Top",
    "Push Bottom to Top (Soft)",
    "Random Points",
    "Random Boxes",
    "From Center",
    "From Center (Soft)",
    "Zoom from Center",
    "Zoom from Center (Soft)"};

const char* const TransitionSoundCaptions[11] = {"None",      "Click #1",  "Click #2",  "Click #3", "Click #4",  "Click #5",
                                                 "Camera #1", "Camera #2", "Camera #3", "Chimes",   "Projector"};

struct TColorItem {
  const char* Caption;
  platform::TColor Color;
};
constexpr TColorItem BackgroundColors[4] = {
    {"Black", 0}, {"White", 0xFFFFFF}, {"Gray", 0x808080}, {"Window Color", platform::clBtnFace}};

const char* const CursorCaptions[4] = {"Grab", "Zoom", "Magnify", "Normal"};

// The tool bar's small pictures: drawn here, over the transparent colour.
enum TToolGlyph {
  tgOpen, tgPrevious, tgNext, tgFullScreen, tgPrint, tgTools, tgAutoFit, tgSlideShow, tgPause,
  tgSave, tgEmail, tgZoom, tgGrab, tgMagnify, tgNormal
};

QImage ToolGlyphImage(TToolGlyph kind) {
  QImage image(16, 16, QImage::Format_RGB32);
  image.fill(QColor(0x80, 0x80, 0x00));
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Black: a disabled button embosses only the glyph's black pixels, so a
    // glyph without them would leave the button blank.
    const QColor ink(Qt::black);
    p.setPen(ink);
    p.setBrush(Qt::NoBrush);
    auto fill = [&](const QPolygon& poly, const QColor& c) {
      p.setBrush(c);
      p.drawPolygon(poly);
      p.setBrush(Qt::NoBrush);
    };
    switch (kind) {
    case tgOpen:
      fill(QPolygon({{1, 4}, {6, 4}, {7, 5}, {14, 5}, {14, 13}, {1, 13}}), QColor(0xF0, 0xD0, 0x60));
      break;
    case tgPrevious: fill(QPolygon({{11, 2}, {11, 13}, {4, 8}}), ink); break;
    case tgNext: fill(QPolygon({{4, 2}, {4, 13}, {11, 8}}), ink); break;
    case tgFullScreen:
      p.drawRect(1, 2, 13, 11);
      p.fillRect(2, 3, 12, 3, ink);
      break;
    case tgPrint:
      p.fillRect(4, 1, 8, 5, Qt::white);
      p.drawRect(4, 1, 7, 5);
      fill(QPolygon({{1, 6}, {14, 6}, {14, 11}, {1, 11}}), QColor(0xA0, 0xA0, 0xA0));
      p.fillRect(4, 11, 8, 4, Qt::white);
      p.drawRect(4, 10, 7, 4);
      break;
    case tgTools:
      p.drawLine(2, 13, 10, 5);
      p.drawLine(3, 13, 11, 5);
      p.drawEllipse(9, 1, 5, 5);
      break;
    case tgAutoFit:
      p.drawRect(1, 1, 13, 13);
      fill(QPolygon({{4, 4}, {8, 4}, {4, 8}}), ink);
      fill(QPolygon({{11, 11}, {7, 11}, {11, 7}}), ink);
      break;
    case tgSlideShow: fill(QPolygon({{3, 1}, {3, 14}, {13, 8}}), QColor(0x20, 0x80, 0x20)); break;
    case tgPause:
      p.fillRect(3, 2, 4, 12, ink);
      p.fillRect(9, 2, 4, 12, ink);
      break;
    case tgSave:
      fill(QPolygon({{1, 1}, {14, 1}, {14, 14}, {1, 14}}), QColor(0x30, 0x50, 0xA0));
      p.fillRect(4, 2, 8, 5, Qt::white);
      p.fillRect(5, 10, 6, 4, QColor(0xC0, 0xC0, 0xC0));
      break;
    case tgEmail:
      p.fillRect(1, 3, 14, 10, Qt::white);
      p.drawRect(1, 3, 13, 9);
      p.drawLine(1, 3, 8, 9);
      p.drawLine(14, 3, 8, 9);
      break;
    case tgZoom:
    case tgMagnify:
      p.setRenderHint(QPainter::Antialiasing, true);
      p.setBrush(kind == tgMagnify ? QColor(0xC0, 0xE0, 0xFF) : QColor(Qt::white));
      p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
      p.setPen(QPen(ink, 2));
      p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
      if (kind == tgZoom) {
        p.setPen(QPen(ink, 1));
        p.drawLine(QPointF(4, 6), QPointF(8, 6));
        p.drawLine(QPointF(6, 4), QPointF(6, 8));
      }
      break;
    case tgGrab:
      fill(QPolygon({{3, 6}, {5, 3}, {11, 3}, {13, 6}, {13, 11}, {10, 14}, {6, 14}, {3, 11}}), QColor(0xF8, 0xD8, 0xB0));
      break;
    case tgNormal: fill(QPolygon({{4, 1}, {4, 13}, {7, 10}, {10, 15}, {12, 14}, {9, 9}, {13, 9}}), Qt::white); break;
    }
  }
  // The lower-left pixel is the transparent colour.
  image.setPixel(0, 15, qRgb(0x80, 0x80, 0x00));
  return image;
}

void SetToolGlyph(kel::TKelShapeButton* button, TToolGlyph kind) {
  platform::TBitmap bitmap;
  bitmap.SetImage(ToolGlyphImage(kind));
  button->SetGlyph(bitmap);
}

constexpr TToolGlyph CursorGlyphs[4] = {tgGrab, tgZoom, tgMagnify, tgNormal};

bool Only(const QKeyEvent& e, Qt::KeyboardModifiers mods) {
  // The numeric pad's flag is no modifier of the user's.
  return (e.modifiers() & ~Qt::KeypadModifier) == mods;
}

} // namespace

// ---- The command list

void TMainForm::AddCommand(const QString& name, std::function<void()> action) {
  FCommands.emplace_back(name, std::move(action));
}

QStringList TMainForm::CommandNames() const {
  QStringList names;
  for (const auto& c : FCommands) names << c.first;
  return names;
}

void TMainForm::Execute(const QString& command) {
  const auto it = std::find_if(FCommands.begin(), FCommands.end(), [&](const auto& c) { return c.first == command; });
  if (it == FCommands.end()) return;
  if (CommandTrace && !CommandTrace(command)) return;
  // A command's error is shown and the window stays as it was.
  try {
    // Commands act on the picture asked for last, so a read still running
    // ends first; a step to another picture drops it instead.
    if (command != QLatin1String("PreviousImage") && command != QLatin1String("NextImage")) FinishPendingLoad();
    it->second();
  } catch (...) {
    if (HelpDlg) HelpDlg->ApplicationEvents1Exception(std::current_exception());
    else throw;
  }
}

void TMainForm::BuildCommands() {
  FToolBoxHost = std::make_unique<TMainToolBoxHost>(*this);
  AddCommand("OpenImageFolder", [this] { OpenImageFolder(); });
  AddCommand("CloseFolder", [this] {
    if (FCurrentFolderView) FCurrentFolderView->close();
  });
  AddCommand("AdvancedFolderView", [this] {
    TFolderViewForm* view = FCurrentFolderView;
    if (!view) return;
    if (view->Floating()) {
      view->show();
      view->raise();
      view->activateWindow();
    } else {
      view->Undock();
    }
  });
  AddCommand("Save", [this] { SaveModifiedImage(); });
  AddCommand("SaveAs", [this] { SaveImageAs(); });
  AddCommand("Rename", [this] { RenameShownFile(); });
  AddCommand("Delete", [this] {
    if (FCurrentFolderView && !SlideShowTimerOn()) FCurrentFolderView->DeleteSelectedFiles();
  });
  AddCommand("Wallpaper", [this] { SetAsDesktopWallpaper(); });
  AddCommand("CopyToClipboard", [this] { CopyToClipboard(); });
  AddCommand("FileProperties", [this] { ShowFileProperties(); });
  AddCommand("PrinterSetup", [this] { PrinterSetup(); });
  AddCommand("Print", [this] { PrintImage(); });
  AddCommand("PrintPreview", [this] { PrintPreview(); });
  AddCommand("SelectSource", [this] { SelectScannerSource(); });
  AddCommand("Acquire", [this] { AcquireImage(); });
  AddCommand("Exit", [this] { close(); });
  AddCommand("ToolBox", [this] { ShowToolBox(); });
  AddCommand("EmailWizard", [this] { EmailImages(); });
  AddCommand("Reload", [this] { ReloadImage(); });
  AddCommand("ToggleMainMenu", [this] { SetMainMenuVisible(!IsMainMenuVisible()); });
  AddCommand("ToggleThumbs", [this] { SetThumbsVisible(!AreThumbsVisible()); });
  AddCommand("ToggleToolBar", [this] { SetToolBarVisible(!IsToolBarVisible()); });
  AddCommand("ToggleStatusBar", [this] { SetStatusBarVisible(!IsStatusBarVisible()); });
  AddCommand("ToggleAdvancedList", [this] { SetAdvancedListVisible(!IsAdvancedListVisible()); });
  AddCommand("ShowMainMenu", [this] { SetMainMenuVisible(true); });
  AddCommand("ShowToolBar", [this] { SetToolBarVisible(true); });
  AddCommand("HideThumbs", [this] { SetThumbsVisible(false); });
  AddCommand("HideToolBar", [this] { SetToolBarVisible(false); });
  AddCommand("FullScreen", [this] {
    ToggleFullScreen();
    // The click checked the item already; a declined prompt leaves the
    // window as it was, and the mark shows that.
    CheckMenuPair(FullScreen1, PopFullScreen1, FFullScreen);
  });
  AddCommand("AutoFit", [this] { ToggleAutoFit(); });
  AddCommand("Preferences", [this] { ShowPreferences(); });
  AddCommand("SlideShowPreferences", [this] { ShowPreferences(OptionsForm ? OptionsForm->SlideShowTab : nullptr); });
  AddCommand("MagnifyPreferences", [this] { ShowPreferences(OptionsForm ? OptionsForm->MagnifyToolTab : nullptr); });
  AddCommand("AnimateGif", [this] {
    FSettings.AnimateGif = !FSettings.AnimateGif;
    AnimateGif1->setChecked(FSettings.AnimateGif);
    UpdateCommandStates();
  });
  AddCommand("Transparency", [this] {
    FSettings.AlphaChannel = !FSettings.AlphaChannel;
    AlphaChannel1->setChecked(FSettings.AlphaChannel);
    RastrumView1->SetEnableAlphaChannel(FSettings.AlphaChannel);
  });
  for (int style = 0; style <= 10; ++style)
    AddCommand(QStringLiteral("BackgroundStyle%1").arg(style), [this, style] {
      SetBackgroundStyle(style);
      CheckTagged(BackgroundStyleItems, style);
    });
  for (int i = 0; i < 4; ++i)
    AddCommand(QStringLiteral("BackgroundColor%1").arg(i), [this, i] { SetBackgroundColor(BackgroundColors[i].Color); });
  AddCommand("BackgroundColorCustom", [this] {
    const std::uint32_t rgb = platform::ColorToRGB(FSettings.BackgroundColor);
    const QColor start(platform::GetRValue(rgb), platform::GetGValue(rgb), platform::GetBValue(rgb));
    const QColor chosen = QColorDialog::getColor(start, QApplication::activeModalWidget() ? QApplication::activeModalWidget() : this);
    if (chosen.isValid())
      SetBackgroundColor(static_cast<platform::TColor>(chosen.red() | (chosen.green() << 8) | (chosen.blue() << 16)));
    else
      // A cancelled dialog changes nothing, the check mark the click moved included.
      CheckBackgroundColor(FSettings.BackgroundColor);
  });
  for (int effect = 0; effect <= 30; ++effect)
    AddCommand(QStringLiteral("Effect%1").arg(effect), [this, effect] {
      SetTransitionEffect(effect);
      CheckTagged(TransitionEffectItems, effect);
    });
  for (int sound = 0; sound <= 10; ++sound)
    AddCommand(QStringLiteral("Sound%1").arg(sound), [this, sound] {
      SetTransitionSound(sound);
      CheckTagged(TransitionSoundItems, sound);
    });
  AddCommand("VisitWebsite", [this] { OpenThroughDesktop(QUrl(QString::fromLatin1(AboutWebPage))); });
  AddCommand("CheckForUpdates", [this] {
    // The updater runs beside the picture, which stays: the next step asks
    // again.
    if (QuerySaveModified() != TLeaveAnswer::Go) return;
    const QString updater = QString::fromStdString(JoinPath(QCoreApplication::applicationDirPath().toStdString(), "WiseUpdt.exe"));
    // No updater ships with the program; one put beside it is still run.
    if (!QFileInfo(updater).isFile()) ShowErrorDialog(QStringLiteral("No updater is installed."));
    else OpenThroughDesktop(QUrl::fromLocalFile(updater));
  });
  AddCommand("KeyboardGuide", [this] {
    const QString guide = QString::fromStdString(
        JoinPath(QCoreApplication::applicationDirPath().toStdString(), "keyboard_guide.html"));
    if (!QFileInfo(guide).isFile()) ShowErrorDialog(QStringLiteral("No keyboard guide is installed."));
    else OpenThroughDesktop(QUrl::fromLocalFile(guide));
  });
  AddCommand("About", [this] { ShowAboutBox(*FAboutDlg, SlideShowTimerOn()); });
  AddCommand("PreviousImage", [this] { PreviousImage(); });
  AddCommand("NextImage", [this] { NextImage(); });
  AddCommand("PreviousTab", [this] { PreviousFolderTab(); });
  AddCommand("NextTab", [this] { NextFolderTab(); });
  AddCommand("SlideShow", [this] {
    if (FSlideShow) StopSlideShow();
    else StartSlideShow();
  });
  AddCommand("StopSlideShow", [this] { StopSlideShow(); });
  AddCommand("PauseSlideShow", [this] { PauseSlideShow(); });
  AddCommand("Escape", [this] {
    if (FSlideShow) StopSlideShow();
    else if (FFullScreen) SetFullScreen(false, false);
  });
  AddCommand("ZoomIn", [this] {
    if (!CheckAutoFitForZoom()) ZoomBy(10);
  });
  AddCommand("ZoomOut", [this] {
    if (!CheckAutoFitForZoom()) ZoomBy(-10);
  });
  AddCommand("ZoomToFit", [this] {
    if (!CheckAutoFitForZoom()) ZoomToFit();
  });
  AddCommand("Zoom100", [this] {
    if (!CheckAutoFitForZoom()) SetZoomPercent(100);
  });
  AddCommand("ZoomToWidth", [this] {
    if (!CheckAutoFitForZoom()) RastrumView1->FitToWidth();
  });
  AddCommand("ZoomToHeight", [this] {
    if (!CheckAutoFitForZoom()) RastrumView1->FitToHeight();
  });
  AddCommand("RotateCW", [this] { RotateImage(90); });
  AddCommand("RotateCCW", [this] { RotateImage(-90); });
  AddCommand("Rotate180", [this] { RotateImage(180); });
  AddCommand("FlipHorizontal", [this] { FlipImage(rv::rvfdHorizontal); });
  AddCommand("FlipVertical", [this] { FlipImage(rv::rvfdVertical); });
  for (int mode = 0; mode < 4; ++mode) AddCommand(QStringLiteral("MouseMode%1").arg(mode), [this, mode] { SetMouseMode(mode); });
  AddCommand("ZoomWindow", [this] { ShowZoomPanel(); });
  AddCommand("CursorMenu", [this] { CursorMenu->popup(SBtnChangeCursor->mapToGlobal(QPoint(0, SBtnChangeCursor->height()))); });
  // The folder view's own commands, for the current one.
  AddCommand("CutFiles", [this] {
    if (FCurrentFolderView) FCurrentFolderView->CutSelectedFiles();
  });
  AddCommand("CopyFiles", [this] {
    if (FCurrentFolderView) FCurrentFolderView->CopySelectedFiles();
  });
  AddCommand("PasteFiles", [this] {
    if (FCurrentFolderView) FCurrentFolderView->PasteFiles();
  });
  AddCommand("SelectAllFiles", [this] {
    if (FCurrentFolderView) FCurrentFolderView->SelectAllFiles();
  });
  // A key that only has to be taken from the controls.
  AddCommand("Nothing", [] {});
}

QAction* TMainForm::AddItem(QMenu* menu, const QString& objectName, const QString& caption, const QString& command) {
  QAction* item = menu->addAction(caption);
  if (!objectName.isEmpty()) item->setObjectName(objectName);
  connect(item, &QAction::triggered, this, [this, command] { Execute(command); });
  return item;
}

void TMainForm::CheckTagged(const std::vector<QAction*>& items, int tag) {
  for (QAction* item : items) item->setChecked(item->data().toInt() == tag);
}

// ---- Menus

void TMainForm::BuildMenus() {
  BuildCommands();
  File1 = menuBar()->addMenu(QStringLiteral("&File"));
  File1->setObjectName(QStringLiteral("File1"));
  OpenImageFolder1 = AddItem(File1, "OpenImage1", "&Open Image Folder... [Ctrl+O]", "OpenImageFolder");
  OpenRecent1 = File1->addMenu(QStringLiteral("Open Recent"));
  OpenRecent1->setObjectName(QStringLiteral("OpenRecent1"));
  File1->addSeparator();
  CloseCurrentFolder1 = AddItem(File1, "CloseCurrentFolder1", "Close Folder", "CloseFolder");
  AdvancedFolderView1 = AddItem(File1, "AdvancedFolderView1", "Advanced Folder View", "AdvancedFolderView");
  File1->addSeparator();
  SaveCtrlS1 = AddItem(File1, "SaveCtrlS1", "Save [Ctrl+S]", "Save");
  AddItem(File1, "SaveAs1", "Save As...", "SaveAs");
  File1->addSeparator();
  AddItem(File1, "Rename1", "Rename... [Ctrl+ENTER]", "Rename");
  AddItem(File1, "Delete1", "Delete Image(s) [Del]", "Delete");
  File1->addSeparator();
  AddItem(File1, "SetasDesktopWallpaper1", "Set as Desktop Wallpaper", "Wallpaper");
  AddItem(File1, "CopyToClipboard1", "Copy To Clipboard", "CopyToClipboard");
  AddItem(File1, "FileProperties1", "File Properties...", "FileProperties");
  File1->addSeparator();
  AddItem(File1, "PrinterSetup1", "Printer Setup...", "PrinterSetup");
  AddItem(File1, "PrintCtrlP1", "Print... [Ctrl+P]", "Print");
  AddItem(File1, "PrintPreview1", "Print Preview...", "PrintPreview");
  File1->addSeparator();
  QMenu* import = File1->addMenu(QStringLiteral("Import Image"));
  import->setObjectName(QStringLiteral("ImportImage1"));
  AddItem(import, "SelectSource1", "Select Source...", "SelectSource");
  AddItem(import, "AcquireImage1", "Acquire Image... [Ctrl+I]", "Acquire");
  File1->addSeparator();
  AddItem(File1, "Exit1", "Exit", "Exit");

  View1 = menuBar()->addMenu(QStringLiteral("&View"));
  View1->setObjectName(QStringLiteral("View1"));
  AddItem(View1, "oolBox1", "Image Toolbox... [Ctrl+T]", "ToolBox");
  AddItem(View1, "EmailWizard1", "E-mail Wizard... [Ctrl+E]", "EmailWizard");
  AddItem(View1, "ReloadImageF51", "Reload Image [F5]", "Reload");
  View1->addSeparator();
  QMenu* controls = View1->addMenu(QStringLiteral("Controls"));
  controls->setObjectName(QStringLiteral("ViewableControls1"));
  MainMenuVisible1 = AddItem(controls, "ViewMainMenu1", "Main Menu", "ToggleMainMenu");
  ThumbsVisible1 = AddItem(controls, "ViewThumbs1", "Thumbnail Filmstrip", "ToggleThumbs");
  NavVisible1 = AddItem(controls, "ViewToolBar1", "Tool Bar", "ToggleToolBar");
  StatusVisible1 = AddItem(controls, "ViewStatusBar1", "Status Bar", "ToggleStatusBar");
  ListVisible1 = AddItem(controls, "ViewAdvancedList1", "Advanced Folder Views", "ToggleAdvancedList");
  ListVisible1->setVisible(false);
  View1->addSeparator();
  FullScreen1 = AddItem(View1, "FullScreen1", "&Full Screen [F11]", "FullScreen");
  AutoFit1 = AddItem(View1, "AutoFit1", "Auto-fit [F12]", "AutoFit");

  QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
  options->setObjectName(QStringLiteral("Options1"));
  AddItem(options, "Preferences1", "Preferences... [F8]", "Preferences");
  options->addSeparator();
  AnimateGif1 = AddItem(options, "AnimateGif1", "Enable Gif Animation", "AnimateGif");
  AlphaChannel1 = AddItem(options, "AlphaChannel1", "Enable Transparency", "Transparency");
  options->addSeparator();
  QMenu* styles = options->addMenu(QStringLiteral("Background Style"));
  for (int style = 0; style <= 10; ++style) {
    QAction* item = AddItem(styles, QString(), BackgroundStyleCaptions[style], QStringLiteral("BackgroundStyle%1").arg(style));
    item->setData(style);
    BackgroundStyleItems.push_back(item);
  }
  QMenu* colors = options->addMenu(QStringLiteral("Background Color"));
  for (int i = 0; i < 4; ++i)
    BackgroundColorItems.push_back(AddItem(colors, QString(), BackgroundColors[i].Caption, QStringLiteral("BackgroundColor%1").arg(i)));
  BackgroundColorItems.push_back(AddItem(colors, QString(), "Custom Color...", "BackgroundColorCustom"));
  QMenu* effects = options->addMenu(QStringLiteral("Image Transition Effect"));
  for (int effect = 0; effect <= 30; ++effect) {
    QAction* item = AddItem(effects, QString(), TransitionEffectCaptions[effect], QStringLiteral("Effect%1").arg(effect));
    item->setData(effect);
    TransitionEffectItems.push_back(item);
  }
  QMenu* sounds = options->addMenu(QStringLiteral("Transition Sound"));
  for (int sound = 0; sound <= 10; ++sound) {
    QAction* item = AddItem(sounds, QString(), TransitionSoundCaptions[sound], QStringLiteral("Sound%1").arg(sound));
    item->setData(sound);
    TransitionSoundItems.push_back(item);
  }

  Windows1 = menuBar()->addMenu(QStringLiteral("F&olders"));
  Windows1->setObjectName(QStringLiteral("Windows1"));
  Windows1->addAction(QStringLiteral("[Empty]"))->setEnabled(false);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  AddItem(help, "VisitWebsite1", "Visit Website...", "VisitWebsite");
  AddItem(help, "CheckforUpdates1", "Check for Updates...", "CheckForUpdates");
  AddItem(help, "KeyboardShortcutGuide1", "Keyboard Shortcut Guide...", "KeyboardGuide");
  help->addSeparator();
  AddItem(help, "About1", "About... [F1]", "About");

  // The picture's pop-up menu.
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  PopViewMainMenu1 = AddItem(PopupMenu1, "PopViewMainMenu1", "View Main Menu", "ShowMainMenu");
  PopViewToolBar1 = AddItem(PopupMenu1, "PopViewToolBar1", "View Tool Bar", "ShowToolBar");
  PopShowSeparator1 = PopupMenu1->addSeparator();
  AddItem(PopupMenu1, "PreviousImage1", "&Previous Image [<-]", "PreviousImage");
  AddItem(PopupMenu1, "NextImage1", "&Next Image [->]", "NextImage");
  PopupMenu1->addSeparator();
  QMenu* show = PopupMenu1->addMenu(QStringLiteral("Slide Show"));
  show->setObjectName(QStringLiteral("SlideShowMenu1"));
  SlideShow1 = AddItem(show, "SlideShow1", "&Start Slide Show [S]", "SlideShow");
  PauseHoldH1 = AddItem(show, "PauseHoldH1", "Pause Silde Show [P]", "PauseSlideShow");
  AddItem(show, "ViewPreferences1", "&View Preferences", "SlideShowPreferences");
  QMenu* zoom = PopupMenu1->addMenu(QStringLiteral("Zoom"));
  zoom->setObjectName(QStringLiteral("Zoom1"));
  AddItem(zoom, "ZoomIn1", "Zoom In 10%", "ZoomIn");
  AddItem(zoom, "ZoomOut1", "Zoom Out 10%", "ZoomOut");
  AddItem(zoom, "ZoomToFit1", "Zoom To Fit", "ZoomToFit");
  AddItem(zoom, "ZoomTo1001", "Zoom To 100%", "Zoom100");
  AddItem(zoom, "ZoomToWidth1", "Zoom To Width", "ZoomToWidth");
  AddItem(zoom, "ZoomToHeight1", "Zoom To Height", "ZoomToHeight");
  QMenu* rotate = PopupMenu1->addMenu(QStringLiteral("&Rotate"));
  rotate->setObjectName(QStringLiteral("Rotate1"));
  AddItem(rotate, "RotateCW1", "90° Clockwise", "RotateCW");
  AddItem(rotate, "RotateCCW1", "90° Counter Clockwise", "RotateCCW");
  AddItem(rotate, "Rotate1801", "180° Rotation", "Rotate180");
  QMenu* flip = PopupMenu1->addMenu(QStringLiteral("Flip"));
  flip->setObjectName(QStringLiteral("Flip1"));
  AddItem(flip, "FlipHorizontal1", "Horizontal", "FlipHorizontal");
  AddItem(flip, "FlipVertical1", "Vertical", "FlipVertical");
  PopupMenu1->addSeparator();
  AddItem(PopupMenu1, "SetAsDesktopWallpaper2", "Set as Desktop Wallpaper", "Wallpaper");
  AddItem(PopupMenu1, "CopyToClipboard2", "Copy To Clipboard", "CopyToClipboard");
  PopupMenu1->addSeparator();
  QMenu* popControls = PopupMenu1->addMenu(QStringLiteral("Controls"));
  popControls->setObjectName(QStringLiteral("ViewableControls2"));
  PopMainMenuVisible1 = AddItem(popControls, "PopMainMenu1", "Main Menu", "ToggleMainMenu");
  PopThumbsVisible1 = AddItem(popControls, "PopThumbs1", "Thumbnail Filmstrip", "ToggleThumbs");
  PopNavVisible1 = AddItem(popControls, "ViewToolBar2", "Tool Bar", "ToggleToolBar");
  PopStatusVisible1 = AddItem(popControls, "PopStatusBar1", "Status Bar", "ToggleStatusBar");
  PopListVisible1 = AddItem(popControls, "PopAdvancedList1", "Advanced Folder Views", "ToggleAdvancedList");
  for (QAction* item : {PopMainMenuVisible1, PopThumbsVisible1, PopNavVisible1, PopStatusVisible1, PopListVisible1})
    item->setCheckable(true);
  PopListVisible1->setVisible(false);
  PopFullScreen1 = AddItem(PopupMenu1, "PopFullScreen1", "&Full Screen [F11]", "FullScreen");
  PopFullScreen1->setCheckable(true);
  AddItem(PopupMenu1, "HideThumbnailFilmstrip1", "Hide Thumbnail Filmstrip", "HideThumbs");
  AddItem(PopupMenu1, "HideToolBar1", "Hide Tool Bar", "HideToolBar");
  MagnifyPreferences1 = AddItem(PopupMenu1, "MagnifyToolPreferences1", "Magnify Tool Preferences...", "MagnifyPreferences");
  MagnifyPreferences1->setVisible(false);

  TabPopupMenu = new QMenu(this);
  TabPopupMenu->setObjectName(QStringLiteral("TabPopupMenu"));
  AddItem(TabPopupMenu, "TabAdvancedFolderView1", "Advanced Folder View", "AdvancedFolderView");
  AddItem(TabPopupMenu, "TabHideThumbs1", "Hide Thumbnail Filmstrip", "HideThumbs");
  AddItem(TabPopupMenu, "TabCloseFolder1", "Close Folder", "CloseFolder");
  ToolBarPopupMenu = new QMenu(this);
  ToolBarPopupMenu->setObjectName(QStringLiteral("ToolBarPopupMenu"));
  AddItem(ToolBarPopupMenu, "ToolHideToolBar1", "Hide Tool Bar", "HideToolBar");
  AddItem(ToolBarPopupMenu, "ToolCloseFolder1", "Close Folder", "CloseFolder");

  CursorMenu = new QMenu(this);
  CursorMenu->setObjectName(QStringLiteral("CursorMenu"));
  for (int mode = 0; mode < 4; ++mode) {
    QAction* item = AddItem(CursorMenu, QString(), CursorCaptions[mode], QStringLiteral("MouseMode%1").arg(mode));
    item->setData(mode);
    item->setIcon(QIcon(QPixmap::fromImage(ToolGlyphImage(CursorGlyphs[mode]))));
    CursorItems.push_back(item);
  }

  for (auto* list : {&BackgroundStyleItems, &BackgroundColorItems, &TransitionEffectItems, &TransitionSoundItems, &CursorItems})
    for (QAction* item : *list) item->setCheckable(true);
  for (QAction* a : {MainMenuVisible1, ThumbsVisible1, NavVisible1, StatusVisible1, ListVisible1, FullScreen1, AutoFit1,
                     AnimateGif1, AlphaChannel1})
    a->setCheckable(true);

  RastrumView1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(RastrumView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { ShowPicturePopup(RastrumView1->mapToGlobal(p)); });
  ThumbPageControl->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ThumbPageControl->tabBar(), &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { TabPopupMenu->popup(ThumbPageControl->tabBar()->mapToGlobal(p)); });
  BigControlPanel->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(BigControlPanel, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { ToolBarPopupMenu->popup(BigControlPanel->mapToGlobal(p)); });
}

// ---- Tool bar

void TMainForm::BuildToolBar() {
  auto* buttons = new QHBoxLayout(SmallControlPanel);
  buttons->setContentsMargins(2, 2, 2, 2);
  buttons->setSpacing(2);
  auto add = [&](const char* name, TToolGlyph glyph, const QString& hint, const QString& command) {
    auto* b = new kel::TKelShapeButton(SmallControlPanel);
    ApplyFormButtonValues(*b);
    b->setObjectName(QString::fromLatin1(name));
    SetToolGlyph(b, glyph);
    b->setToolTip(hint);
    b->setFixedSize(27, 27);
    b->setFocusPolicy(Qt::NoFocus);
    b->OnClick = [this, command](kel::TKelBaseGraphicButton*) { Execute(command); };
    buttons->addWidget(b);
    return b;
  };
  SBtnOpen = add("SBtnOpen", tgOpen, QStringLiteral("Open Image Folder [Ctrl+O]"), "OpenImageFolder");
  SBtnPrevious = add("SBtnPrevious", tgPrevious, QStringLiteral("Previous Image [<-]"), "PreviousImage");
  SBtnNext = add("SBtnNext", tgNext, QStringLiteral("Next Image [->]"), "NextImage");
  SBtnHide = add("SBtnHide", tgFullScreen, QStringLiteral("Full Screen [F11]"), "FullScreen");
  SBtnPrint = add("SBtnPrint", tgPrint, QStringLiteral("Print [Ctrl+P]"), "Print");
  SBtnTools = add("SBtnTools", tgTools, QStringLiteral("Image Toolbox [Ctrl+T]"), "ToolBox");
  SBtnAutoFit = add("SBtnAutoFit", tgAutoFit, QStringLiteral("Auto-fit [F12]"), "AutoFit");
  SBtnAutoFit->SetAllowAllUp(true);
  SBtnAutoFit->SetGroupIndex(1);
  SBtnSlideShow = add("SBtnSlideShow", tgSlideShow, QStringLiteral("Start Slide Show [S]"), "SlideShow");
  SBtnSave = add("SBtnSave", tgSave, QStringLiteral("Save [Ctrl+S]"), "Save");
  SBtnEmail = add("SBtnEmail", tgEmail, QStringLiteral("E-mail Wizard [Ctrl+E]"), "EmailWizard");
  platform::TBitmap glyph;
  SBtnRotateCCW = add("SBtnRotateCCW", tgNormal, QStringLiteral("Rotate 90° Counter Clockwise [Ctrl+L]"), "RotateCCW");
  MakeDialogGlyph(dgRotateCCW, glyph);
  SBtnRotateCCW->SetGlyph(glyph);
  SBtnRotateCW = add("SBtnRotateCW", tgNormal, QStringLiteral("Rotate 90° Clockwise [Ctrl+R]"), "RotateCW");
  MakeDialogGlyph(dgRotateCW, glyph);
  SBtnRotateCW->SetGlyph(glyph);
  SBtnZoomWindow = add("SBtnZoomWindow", tgZoom, QStringLiteral("Zoom"), "ZoomWindow");
  CmbZoomPercent = new QComboBox(SmallControlPanel);
  CmbZoomPercent->setObjectName(QStringLiteral("CmbZoomPercent"));
  CmbZoomPercent->setEditable(true);
  CmbZoomPercent->setFixedWidth(72);
  for (int percent : {10, 25, 50, 75, 100, 150, 200, 300, 400, 800})
    CmbZoomPercent->addItem(QString::number(percent) + QLatin1Char('%'));
  connect(CmbZoomPercent, &QComboBox::textActivated, this, [this](const QString& text) { ZoomPercentEdited(text); });
  buttons->addWidget(CmbZoomPercent);
  SBtnChangeCursor = add("SBtnChangeCursor", tgNormal, QStringLiteral("Mouse Mode"), "CursorMenu");
  SmallControlPanel->adjustSize();

  // The zoom bar's small pop-up panel, closed when it loses the focus.
  ZoomPanel = new QWidget(this, Qt::Popup);
  ZoomPanel->setObjectName(QStringLiteral("ZoomPanel"));
  auto* row = new QHBoxLayout(ZoomPanel);
  row->setContentsMargins(4, 4, 4, 4);
  ZoomTrackBar = new QSlider(Qt::Horizontal, ZoomPanel);
  ZoomTrackBar->setObjectName(QStringLiteral("ZoomTrackBar"));
  ZoomTrackBar->setRange(1, static_cast<int>(MaxZoomPercent));
  ZoomTrackBar->setFixedWidth(200);
  connect(ZoomTrackBar, &QSlider::valueChanged, this, [this](int position) { ZoomTrackBarChanged(position); });
  row->addWidget(ZoomTrackBar);
  LblZoomPercent = new QLabel(ZoomPanel);
  LblZoomPercent->setObjectName(QStringLiteral("LblZoomPercent"));
  // Room for "3200.0%" without the panel changing its width.
  LblZoomPercent->setMinimumWidth(LblZoomPercent->fontMetrics().horizontalAdvance(QStringLiteral("3200.0%")));
  LblZoomPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  row->addWidget(LblZoomPercent);
  auto* close = new QLabel(QStringLiteral("x"), ZoomPanel);
  close->setObjectName(QStringLiteral("LblCloseZoom"));
  row->addWidget(close);
  ZoomPanel->adjustSize();
}

void TMainForm::ShowSlideShowButtonState(bool running) { SetToolGlyph(SBtnSlideShow, running ? tgPause : tgSlideShow); }

// ---- Keys

bool TMainForm::KeyForFolderView(const QWidget* focus) const {
  // A folder view with the focus takes its own keys, the current one or not.
  if (!focus) return false;
  return std::any_of(FFolderViews.begin(), FFolderViews.end(),
                     [focus](const TFolderViewForm* view) { return focus == view || view->isAncestorOf(focus); });
}

bool TMainForm::HandleKey(const QKeyEvent& e, const QWidget* focus) {
  if (focus && (focus == CmbZoomPercent || CmbZoomPercent->isAncestorOf(focus) || focus == ZoomTrackBar)) return false;
  const int key = e.key();
  const bool none = Only(e, Qt::NoModifier);
  const bool ctrl = Only(e, Qt::ControlModifier);
  const bool plain = !(e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  const bool folderHasKeys = KeyForFolderView(focus);
  auto run = [this](const char* command) {
    Execute(QString::fromLatin1(command));
    return true;
  };
  // In the order of the key map; the first row that matches acts.
  if (none && (key == Qt::Key_Left || key == Qt::Key_Right)) {
    if (folderHasKeys) return false;
    return run(key == Qt::Key_Left ? "PreviousImage" : "NextImage");
  }
  if (none && (key == Qt::Key_Up || key == Qt::Key_Down)) {
    if (folderHasKeys) return false;
    if (FFolderViews.size() > 1) run(key == Qt::Key_Up ? "PreviousTab" : "NextTab");
    return true;
  }
  if (ctrl && (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down ||
               key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
    if (folderHasKeys) return false;
    return run("Nothing");
  }
  if (ctrl && (key == Qt::Key_Return || key == Qt::Key_Enter)) return run("Rename");
  if (ctrl && key == Qt::Key_O) return run("OpenImageFolder");
  if (ctrl && key == Qt::Key_P) return run("Print");
  if (ctrl && key == Qt::Key_I) return run("Acquire");
  if (key == Qt::Key_F1 && none) return SlideShowTimerOn() ? true : run("About");
  if (ctrl && key == Qt::Key_E) return run("EmailWizard");
  if (ctrl && key == Qt::Key_T) return run("ToolBox");
  if (ctrl && key == Qt::Key_R) return run("RotateCW");
  if (ctrl && key == Qt::Key_L) return run("RotateCCW");
  if (ctrl && key == Qt::Key_Space) return run("PreviousImage");
  if (none && key == Qt::Key_Space) return run("NextImage");
  if (plain && key == Qt::Key_Minus) return run("ZoomOut");
  if (plain && (key == Qt::Key_Plus || key == Qt::Key_Equal)) return run("ZoomIn");
  if (key == Qt::Key_F11 && none) return run("FullScreen");
  if (key == Qt::Key_F5) return run("Reload");
  if (ctrl && (key == Qt::Key_X || key == Qt::Key_C || key == Qt::Key_V || key == Qt::Key_A)) {
    if (FSlideShow || !FCurrentFolderView || folderHasKeys) return false;
    return run(key == Qt::Key_X ? "CutFiles" : key == Qt::Key_C ? "CopyFiles" : key == Qt::Key_V ? "PasteFiles" : "SelectAllFiles");
  }
  if (key == Qt::Key_Delete) {
    if (FSlideShow || !FCurrentFolderView || folderHasKeys) return false;
    return run("Delete");
  }
  if (key == Qt::Key_Pause) return run("Exit");
  if (key == Qt::Key_F12 && none) return run("AutoFit");
  if (ctrl && key == Qt::Key_S) return run("Save");
  if (plain && key == Qt::Key_S) return run("SlideShow");
  if (plain && key == Qt::Key_Q) return run("StopSlideShow");
  if (key == Qt::Key_Escape && none) return run("Escape");
  if (plain && key == Qt::Key_P) return run("PauseSlideShow");
  if (key == Qt::Key_F8 && none) return run("Preferences");
  return false;
}

// ---- The dialogs of start-up

void TMainForm::FormsCreated() {
  if (OptionsForm) {
    OptionsForm->OnGetPreferences = [this] { return FSettings; };
    OptionsForm->OnApplyPreferences = [this](const TMainSettings& s) { ApplyPreferences(s); };
    OptionsForm->RecentFolders = FileMruList;
    OptionsForm->OnRecentFoldersChanged = [this] {
      RebuildRecentFoldersMenu();
      // The path box's list loses what the recent list lost.
      if (OpenFolderForm) OpenFolderForm->KeepRecentPaths(RecentFolders());
    };
    OptionsForm->PictureViewClientSize = [this] { return RastrumView1->size(); };
  }
  if (ToolBox) ToolBox->Host = FToolBoxHost.get();
  if (SaveAsForm && !SaveAsPrompt)
    SaveAsPrompt = [this](const std::string& current, std::string& target, bool& openSaved) {
      // "Advanced..." edits the shown picture's own save parameters, the
      // ones the write then uses; linked only while the dialog is open, as
      // the dialog may outlive this window.
      if (!SaveAsForm) return 2;
      SaveAsForm->PictureIO = RastrumView1->GetIO();
      const int result = SaveAsForm->Execute(current, FIsNewImage, target, openSaved);
      SaveAsForm->PictureIO = nullptr;
      return result;
    };
  UpdateCommandStates();
}

// ---- Command states

bool TMainForm::SlideShowTimerOn() const { return SlideShowTimer && SlideShowTimer->isActive(); }

void TMainForm::UpdateCommandStates() {
  if (!SlideShowTimer) return;
  const bool timerOff = !SlideShowTimerOn();
  const bool noShow = !FSlideShow;
  const bool view = FCurrentFolderView != nullptr;
  const bool files = view && !FCurrentFolderView->Names().empty();
  const bool selected = view && !FCurrentFolderView->SelectedNames().empty();
  const bool picture = HasImage();
  auto enable = [this](const char* name, bool on) {
    if (auto* item = findChild<QAction*>(QString::fromLatin1(name))) item->setEnabled(on);
    else if (auto* menu = findChild<QMenu*>(QString::fromLatin1(name))) menu->setEnabled(on);
  };
  const bool gif = RastrumMView1->ImageCount() > 1 && FSettings.AnimateGif && timerOff && !FModified;
  if (!gif) GifTimer->stop();
  else if (!GifTimer->isActive()) GifTimer->start();
  enable("AcquireImage1", noShow && ScannerSourceSelected());
  for (auto* b : {SBtnPrevious, SBtnNext, SBtnSlideShow}) b->setEnabled(files);
  for (const char* n : {"SlideShow1", "PreviousImage1", "NextImage1"}) enable(n, files);
  enable("Delete1", timerOff && selected);
  for (const char* n : {"CloseCurrentFolder1", "AdvancedFolderView1"}) enable(n, timerOff && view);
  for (const char* n : {"ViewableControls1", "ViewableControls2", "SelectSource1"}) enable(n, noShow);
  enable("PauseHoldH1", FSlideShow);
  for (const char* n : {"ViewMainMenu1", "ViewToolBar2", "OpenImage1", "OpenRecent1", "oolBox1", "EmailWizard1",
                        "PrinterSetup1", "Help1"})
    enable(n, timerOff);
  ThumbPageControl->setEnabled(timerOff);
  for (auto* b : {SBtnOpen, SBtnTools, SBtnEmail}) b->setEnabled(timerOff);
  SBtnSave->setEnabled(timerOff && FModified);
  enable("SaveCtrlS1", timerOff && FModified);
  const bool edit = timerOff && picture;
  for (const char* n : {"Rotate1", "Flip1", "PrintCtrlP1", "PrintPreview1", "SaveAs1", "CopyToClipboard1", "CopyToClipboard2",
                        "SetasDesktopWallpaper1", "SetAsDesktopWallpaper2"})
    enable(n, edit);
  for (auto* b : {SBtnRotateCCW, SBtnRotateCW, SBtnPrint}) b->setEnabled(edit);
  if (ToolBox) ToolBox->UpdateToolBoxState(edit);
  for (const char* n : {"ReloadImageF51", "FileProperties1", "Rename1"}) enable(n, edit && !FIsNewImage);
}

// ---- Picture commands

bool TMainForm::CanStepToAnotherPicture() const {
  if (!FCurrentFolderView) return false;
  const std::vector<std::string>& names = FCurrentFolderView->Names();
  return names.size() > 1 ||
         (names.size() == 1 &&
          JoinPath(FCurrentFolderView->GetFolderPath(), names.front()) != FCurrentFilePath);
}

// Asked about the picture only when the step can leave it: a scan with no
// current folder view, or the one file of a folder, stays where it is. The
// question is a modal loop: the step goes on in the folder view it was
// asked for, when that is still there and current.
bool TMainForm::MayStepToAnotherPicture() {
  if (!CanStepToAnotherPicture()) return false;
  const QPointer<TFolderViewForm> view = FCurrentFolderView;
  if (QuerySaveModified() != TLeaveAnswer::Go) return false;
  return view && view == FCurrentFolderView && CanStepToAnotherPicture();
}

void TMainForm::PreviousImage() {
  if (!MayStepToAnotherPicture()) return;
  SBtnPrevious->setEnabled(false);
  FCurrentFolderView->ShowPreviousFile();
  UpdateCommandStates();
}

void TMainForm::NextImage() {
  if (!MayStepToAnotherPicture()) return;
  SBtnNext->setEnabled(false);
  FCurrentFolderView->ShowNextFile();
  UpdateCommandStates();
}

void TMainForm::RotateImage(int angle) {
  FinishPendingLoad();
  if (SlideShowTimerOn() || !HasImage()) return;
  const TWaitCursor wait;
  RastrumView1->GetProc()->Rotate(-angle, true, RastrumView1->GetBackground());
  FPixelTurn.Rotate(angle);
  // A quarter turn turns the pixels' shape too: a fax's 204 x 98 dpi is
  // 98 x 204 once its rows are columns, or every program that honours the
  // resolution prints it stretched. What a save writes, and a print, follow.
  if (angle % 180 != 0) {
    rv::TIOParamsVals& params = RastrumView1->GetIO()->Params();
    std::swap(params.DpiX, params.DpiY);
    params.QuarterTurned = !params.QuarterTurned;
    std::swap(params.TiffXPos, params.TiffYPos);
    if (params.TgaAspectRatio > 0) params.TgaAspectRatio = 1 / params.TgaAspectRatio;
    RastrumView1->SetDPI(RastrumView1->DpiY(), RastrumView1->DpiX());
  }
}

void TMainForm::FlipImage(int direction) {
  FinishPendingLoad();
  if (SlideShowTimerOn() || !HasImage()) return;
  const TWaitCursor wait;
  RastrumView1->GetProc()->Flip(direction);
  if (direction == rv::rvfdHorizontal) FPixelTurn.FlipHorizontal();
  else FPixelTurn.FlipVertical();
}

void TMainForm::ResizeImage(int width, int height) {
  FinishPendingLoad();
  if (!HasImage()) return;
  const QString size = QStringLiteral("%1 x %2 pixels").arg(width).arg(height);
  if (width < 1 || height < 1) {
    ShowErrorDialog(
        QStringLiteral("The picture cannot be resized to %1: a picture is at least one pixel wide and high.").arg(size));
    return;
  }
  // The readers take no picture past the library's cap: one made here could
  // not be opened again once saved.
  if (!rv::RvPixelsAllowed(width, height)) {
    ShowErrorDialog(QStringLiteral("The picture cannot be resized to %1: that is more pixels than a picture may have.")
                        .arg(size));
    return;
  }
  rv::TRastrumProc& proc = *RastrumView1->GetProc();
  const bool edited = proc.CanUndo();
  try {
    const TWaitCursor wait;
    proc.Resample(width, height, rv::rfNone);
  } catch (const std::bad_alloc&) {
    // The resample kept the picture for undo before it began: that copy
    // brings back what it may have let go of. The picture is as edited as
    // it was before.
    if (proc.CanUndo()) proc.Undo();
    if (!edited) proc.ClearUndo();
    else if (!proc.CanUndo()) proc.SaveUndo();
    UpdateModifiedState();
    ShowErrorDialog(QStringLiteral("There is not enough memory to resize the picture to %1.").arg(size));
    return;
  }
  FOnlyRotated = false;
  UpdateModifiedState();
}

int TMainForm::RenameOwnFile(const std::string& from, const std::string& to) {
  // The rename moves the file's change time on. The whole identity just
  // before it tells the shown file as read or written from one another
  // program rewrote in place, its size and time put back: only the first
  // takes the renamed file's identity, the other stays to be asked about.
  const TFileIdentity before = TFileIdentity::Of(from);
  const int error = platform::RenameNoReplace(from, to);
  if (error == 0 && before.Size >= 0 && before == FShownIdentity)
    if (const TFileIdentity after = TFileIdentity::Of(to); after.SameContents(before)) FShownIdentity = after;
  return error;
}

void TMainForm::RenameShownFile() {
  FinishPendingLoad();
  if (!HasImage() || FIsNewImage || !RenameDlg) return;
  // The shown file's own folder: the current view may show another one.
  // The name's bytes are kept; the dialog shows them as text.
  const std::string shownPath = FCurrentFilePath;
  std::error_code fault;
  if (!std::filesystem::is_regular_file(shownPath, fault)) return;
  const std::string folder = FolderOfPath(shownPath);
  const std::string oldName = NameOfPath(shownPath);
  const std::size_t dot = oldName.rfind('.');
  const std::string ext = dot == std::string::npos ? std::string() : oldName.substr(dot);
  const QString base = FileNameText(oldName.substr(0, dot));
  RenameDlg->EdtNewFileName->setText(base);
  RenameDlg->LblFileType->setText(QString::fromStdString(GetImageTypeDescription(oldName)));
  std::string newName, newPath;
  // After an error the dialog comes back with the name entered, until a
  // name is taken or the user gives up.
  for (;;) {
    if (RenameDlg->ShowModal() != 1) return;
    const QString entered = RenameDlg->EdtNewFileName->text();
    if (entered.isEmpty() || entered.compare(base, Qt::CaseInsensitive) == 0) return;
    newName = entered.toStdString() + ext;
    newPath = JoinPath(folder, newName);
    QString text = RenameNameRefusal(entered);
    if (text.isEmpty()) {
      // Only a rename the user went on with settles the edit: one cancelled
      // leaves the file and the edit as they were.
      if (!ReleaseShownFile({shownPath}, true)) return;
      const int error = IsPlainFileName(newName) ? RenameOwnFile(shownPath, newPath) : EINVAL;
      if (error == 0) break;
      text = RenameFailureText(newName, error);
    }
    if (!HelpDlg) return;
    HelpDlg->ShowMessage(QStringLiteral("Error"), text, QString());
  }
  for (TFolderViewForm* view : FFolderViews)
    if (view->GetFolderPath() == folder) view->RenameFileItem(oldName, newName, false);
  // The names follow when the renamed file is still the one shown.
  if (FCurrentFilePath == shownPath) SetCurrentFileNames(newName, newPath);
}

void TMainForm::EmailImages() {
  FinishPendingLoad();
  // The wizard mails the files as they are and leaves the picture: the
  // next step asks again.
  if (!EmailSizeDlg || QuerySaveModified() != TLeaveAnswer::Go) return;
  if (FCurrentFolderView && !FCurrentFolderView->SelectedNames().empty()) {
    EmailSizeDlg->StartWithFiles(FCurrentFolderView->GetFolderPath(), FCurrentFolderView->SelectedNames());
  } else if (std::error_code fault; std::filesystem::is_regular_file(FCurrentFilePath, fault)) {
    EmailSizeDlg->AddFile(FCurrentFilePath);
  }
  EmailSizeDlg->show();
  EmailSizeDlg->raise();
}

void TMainForm::ShowFileProperties() {
  FinishPendingLoad();
  if (!HasImage() || FCurrentFilePath.empty()) return;
  wn::TWnObjectPropertiesDialog properties;
  properties.ObjectName = FCurrentFilePath;
  // The file manager may be slow to start or not there at all: the window
  // goes on meanwhile, and a refusal is told.
  properties.ExecuteAsync(this, [this](bool Shown) {
    if (!Shown && !FClosing) ShowErrorDialog(QStringLiteral("No file manager can show the properties of this file."));
  });
}

void TMainForm::OpenThroughDesktop(const QUrl& url) {
  // The desktop's opener may find no program for the address, or one that
  // fails: the window goes on meanwhile, and a failure is told.
  platform::OpenUrlAsync(url, this, [this, url](bool Opened) {
    if (!Opened && !FClosing)
      ShowErrorDialog(QStringLiteral("No program could open %1.")
                          .arg(url.isLocalFile() ? url.toLocalFile() : url.toString()));
  });
}

void TMainForm::ShowToolBox() {
  if (SlideShowTimerOn() || !ToolBox) return;
  ToolBox->ResetToolBoxSizeFields();
  ToolBox->UpdateToolBoxState(HasImage());
  ToolBox->show();
  ToolBox->raise();
}

void TMainForm::ShowPreferences(QWidget* page) {
  if (OptionsForm) OptionsForm->ShowModal(page);
}

void TMainForm::ApplyPreferences(const TMainSettings& s) {
  const bool hideTabChanged = s.HideFolderTab != FSettings.HideFolderTab;
  FSettings.SlideShowInterval = s.SlideShowInterval;
  SlideShowTimer->setInterval(s.SlideShowInterval);
  FSettings.StopAtStart = s.StopAtStart;
  FSettings.PlayInReverse = s.PlayInReverse;
  FSettings.StartAtBeginning = s.StartAtBeginning;
  FSettings.AnimateGif = s.AnimateGif;
  AnimateGif1->setChecked(s.AnimateGif);
  FSettings.AutoSaveImages = s.AutoSaveImages;
  FSettings.AlphaChannel = s.AlphaChannel;
  RastrumView1->SetEnableAlphaChannel(s.AlphaChannel);
  AlphaChannel1->setChecked(s.AlphaChannel);
  FSettings.HideFolderTab = s.HideFolderTab;
  if (hideTabChanged && ThumbPageControl->count() == 1) {
    UpdateFolderTabHeight(nullptr);
    TabHackTimer->start();
    ThumbPageControl->tabBar()->setVisible(!s.HideFolderTab);
  }
  FSettings.MagnifyViewWidth = s.MagnifyViewWidth;
  FSettings.MagnifyViewHeight = s.MagnifyViewHeight;
  FSettings.MagnifyViewFrame = s.MagnifyViewFrame;
  FSettings.MagnifyViewLevel = std::max(1, s.MagnifyViewLevel);
  FMagnifyLevel = FSettings.MagnifyViewLevel;
  FSettings.MagnifyShowOptions = s.MagnifyShowOptions;
  FSettings.FileMruMaxItems = s.FileMruMaxItems;
  MagnifyView->resize(FSettings.MagnifyViewWidth, FSettings.MagnifyViewHeight);
  MagnifyView->SetBorderStyle(FSettings.MagnifyViewFrame ? rv::bsSingle : rv::bsNone);
  UpdateCommandStates();
}

// ---- Mouse modes and the magnifier

void TMainForm::SetMouseMode(int mode) {
  if (mode < 0 || mode > 3) return;
  // Zooming by mouse needs auto-fit off; refused, the mode and its check
  // mark stay where they were.
  if (mode == 1 && CheckAutoFitForZoom()) {
    CheckTagged(CursorItems, FMouseMode);
    return;
  }
  FMouseMode = mode;
  switch (mode) {
  case 0:
    RastrumView1->SetMouseInteract(rv::miScroll);
    RastrumView1->SetCursor(platform::crDefault);
    break;
  case 1:
    RastrumView1->SetMouseInteract(rv::miZoom);
    RastrumView1->SetCursor(ZoomCursor);
    break;
  default:
    RastrumView1->SetMouseInteract(0);
    RastrumView1->SetCursor(platform::crDefault);
    break;
  }
  const bool magnify = mode == 2;
  MagnifyPreferences1->setVisible(magnify);
  if (!magnify) {
    MagnifyView->hide();
    FMagnifyEnter = 0;
  }
  CheckTagged(CursorItems, mode);
  SetToolGlyph(SBtnChangeCursor, CursorGlyphs[mode]);
  if (magnify && FSettings.MagnifyShowOptions) ShowPreferences(OptionsForm ? OptionsForm->MagnifyToolTab : nullptr);
}

void TMainForm::BuildMagnifier() {
  MagnifyView = new rv::TRastrumView(SubMainPanel);
  MagnifyView->setObjectName(QStringLiteral("MagnifyView"));
  MagnifyView->SetBorderStyle(rv::bsNone);
  MagnifyView->AutoFit = true;
  MagnifyView->setMouseTracking(true);
  MagnifyView->hide();
  RastrumView1->setMouseTracking(true);
}

void TMainForm::MagnifierLeft() {
  FMagnifyEnter = std::max(0, FMagnifyEnter - 1);
  // The pointer leaves the picture for the magnifier that came up under it
  // before it enters the magnifier: judge once both have arrived.
  QTimer::singleShot(0, this, [this] {
    if (FMagnifyEnter == 0 && MagnifyView) MagnifyView->hide();
  });
}

bool TMainForm::MagnifierShown() const { return MagnifyView && MagnifyView->isVisible(); }

void TMainForm::RefreshMagnifier() {
  // A picture shown or cleared under a still pointer: the magnifier shows
  // what is there now.
  if (FMouseMode != 2 || !MagnifierShown() || FMagnifyLast.x() < 0) return;
  const QPoint at = FMagnifyLast;
  FMagnifyLast = QPoint(-1, -1);
  MagnifierMouseMove(at);
}

void TMainForm::MagnifyAt(const QPoint& at) { MagnifierMouseMove(at); }

void TMainForm::MagnifierMouseMove(const QPoint& at) {
  if (FMouseMode != 2 || at == FMagnifyLast) return;
  FMagnifyLast = at;
  // Never wider or higher than half the picture area.
  const int w = std::max(2, std::min(FSettings.MagnifyViewWidth, RastrumView1->width() / 2));
  const int h = std::max(2, std::min(FSettings.MagnifyViewHeight, RastrumView1->height() / 2));
  MagnifyView->resize(w, h);
  const QPoint centre = RastrumView1->mapTo(SubMainPanel, at);
  MagnifyView->move(centre.x() - w / 2, centre.y() - h / 2);
  MagnifyView->show();
  MagnifyView->raise();
  if (FSlideShow || !RastrumView1->rect().contains(at)) return;
  const int level = std::max(1, FMagnifyLevel);
  const int sw = std::max(1, MagnifyView->width() / level);
  const int sh = std::max(1, MagnifyView->height() / level);
  QRect source(0, 0, sw, sh);
  QImage picture;
  if (HasImage()) {
    const int x0 = RastrumView1->ScreenToBitmapX(at.x() - sw / 2);
    const int y0 = RastrumView1->ScreenToBitmapY(at.y() - sh / 2);
    const int x1 = RastrumView1->ScreenToBitmapX(at.x() - sw / 2 + sw);
    const int y1 = RastrumView1->ScreenToBitmapY(at.y() - sh / 2 + sh);
    source = QRect(x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0));
    picture = RastrumView1->GetBitmap()->ToImage();
  }
  QImage part(source.size(), QImage::Format_RGB32);
  const std::uint32_t rgb = platform::ColorToRGB(RastrumView1->GetBackground());
  part.fill(QColor(platform::GetRValue(rgb), platform::GetGValue(rgb), platform::GetBValue(rgb)));
  if (!picture.isNull()) {
    // Where the rectangle leaves the picture the background shows.
    QPainter painter(&part);
    painter.drawImage(QPoint(0, 0), picture, source);
  }
  platform::TBitmap bitmap;
  bitmap.SetImage(part);
  MagnifyView->Assign(&bitmap);
  MagnifyView->Fit();
}

bool TMainForm::ForwardMagnifierEvent(QEvent* event) {
  switch (event->type()) {
  case QEvent::Enter:
    FMagnifyEnter = std::min(2, FMagnifyEnter + 1);
    return false;
  case QEvent::Leave:
    MagnifierLeft();
    return false;
  case QEvent::MouseMove: {
    // Moves over the magnifier count as moves over the picture.
    auto* e = static_cast<QMouseEvent*>(event);
    MagnifierMouseMove(RastrumView1->mapFromGlobal(e->globalPosition().toPoint()));
    return true;
  }
  case QEvent::MouseButtonPress: {
    PictureViewClicked();
    return true;
  }
  case QEvent::ContextMenu:
    // The magnifier sits under the pointer: its right click is the picture's.
    ShowPicturePopup(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  default: return false;
  }
}

void TMainForm::ShowPicturePopup(const QPoint& globalPos) {
  // In zoom mode the right button zooms out while the tool bar is there.
  if (FMouseMode == 1 && IsToolBarVisible()) return;
  PopupMenu1->popup(globalPos);
}

void TMainForm::PictureViewClicked() {
  if (!HasImage()) OpenImageFolder();
  if (KeyCatcher) KeyCatcher->setFocus();
}

// ---- Zoom box and bar

void TMainForm::UpdateZoomControls() {
  if (!CmbZoomPercent) return;
  // The panel's label shows a tenth of a percent, the box and the bar whole ones.
  const double shown = std::round(RastrumView1->Zoom() * 10) / 10;
  if (shown == FShownZoom) return;
  FShownZoom = shown;
  const int zoom = static_cast<int>(std::lround(RastrumView1->Zoom()));
  FUpdatingZoom = true;
  CmbZoomPercent->setEditText(QString::number(zoom) + QLatin1Char('%'));
  LblZoomPercent->setText(QString::number(shown) + QLatin1Char('%'));
  ZoomTrackBar->setValue(std::clamp(zoom, ZoomTrackBar->minimum(), ZoomTrackBar->maximum()));
  FUpdatingZoom = false;
}

void TMainForm::ZoomPercentEdited(const QString& text) {
  if (CheckAutoFitForZoom()) {
    FShownZoom = -1;
    UpdateZoomControls();
    return;
  }
  QString number = text.trimmed();
  if (number.endsWith(QLatin1Char('%'))) number.chop(1);
  bool ok = false;
  const double percent = number.trimmed().toDouble(&ok);
  // Text that is no number changes nothing; the zoom stays within the
  // view's range.
  if (ok && std::isfinite(percent)) SetZoomPercent(std::clamp(percent, 1.0, MaxZoomPercent));
  FShownZoom = -1;
    UpdateZoomControls();
}

void TMainForm::ZoomTrackBarChanged(int position) {
  if (FUpdatingZoom) return;
  if (CheckAutoFitForZoom()) {
    FShownZoom = -1;
    UpdateZoomControls();
    return;
  }
  SetZoomPercent(position);
  FShownZoom = -1;
    UpdateZoomControls();
}

void TMainForm::ShowZoomPanel() {
  UpdateZoomControls();
  ZoomPanel->move(SBtnZoomWindow->mapToGlobal(QPoint(0, SBtnZoomWindow->height())));
  ZoomPanel->show();
  ZoomTrackBar->setFocus();
}

} // namespace app
