// A page control whose tab row can be hidden, with a configurable client
// border, Ctrl+Tab paging over enabled pages and optional shadowed tabs.
#pragma once

#include "platform/colors.h"

#include <QPalette>
#include <QTabBar>
#include <QTabWidget>

#include <functional>

namespace wn {

class TWnPageControl;

class TWnTabBar : public QTabBar {
  Q_OBJECT

 public:
  explicit TWnTabBar(TWnPageControl* Owner);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;

 private:
  TWnPageControl* FOwner;
};

class TWnPageControl : public QTabWidget {
  Q_OBJECT

 public:
  explicit TWnPageControl(QWidget* Parent = nullptr);
  ~TWnPageControl() override;

  int ClientBorderWidth() const { return FClientBorderWidth; }
  void SetClientBorderWidth(int Value);
  bool DrawTabShadow() const { return FDrawTabShadow; }
  void SetDrawTabShadow(bool Value);
  bool HideAllTabs() const { return FHideAllTabs; }
  void SetHideAllTabs(bool Value);
  platform::TColor HintColor = platform::clInfoBk;

  // Ctrl+Tab (Forward) and Ctrl+Shift+Tab: the next enabled page with a
  // visible tab; false when there is none other than the active one.
  bool SelectNextPage(bool Forward);
  // Asked before Ctrl+Tab changes the page.
  virtual bool CanChange() { return true; }

  std::function<void()> OnParentColorChange;
  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;

 protected:
  bool event(QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void tabInserted(int Index) override;
  void changeEvent(QEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  void AdjustDisplayRect();
  void ApplyHideAllTabs();

  int FClientBorderWidth = 4;
  bool FDrawTabShadow = false;
  bool FHideAllTabs = false;
  bool FHintSaved = false;
  QPalette FSavedHintPalette;
};

}  // namespace wn
