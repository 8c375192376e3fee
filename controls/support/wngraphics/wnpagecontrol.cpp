#include "controls/support/wngraphics/wnpagecontrol.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QStyleOptionTab>
#include <QToolTip>

namespace wn {

namespace {

QColor ToQColor(platform::TColor Color) {
  const std::uint32_t Rgb = platform::ColorToRGB(Color);
  return QColor(platform::GetRValue(Rgb), platform::GetGValue(Rgb), platform::GetBValue(Rgb));
}

}  // namespace

// ---------------------------------------------------------------- TWnTabBar

TWnTabBar::TWnTabBar(TWnPageControl* Owner) : QTabBar(Owner), FOwner(Owner) {}

void TWnTabBar::paintEvent(QPaintEvent*) {
  QPainter P(this);
  for (int I = 0; I < count(); ++I) {
    if (!isTabVisible(I)) continue;
    const QRect R = tabRect(I);
    if (!R.isValid()) continue;
    const bool Active = I == currentIndex();
    const bool Shadowed = FOwner->DrawTabShadow() && !Active;
    P.fillRect(R, Shadowed ? ToQColor(platform::clInactiveCaption) : palette().color(QPalette::Button));
    QColor Text = Shadowed ? ToQColor(platform::clInactiveCaptionText) : palette().color(QPalette::ButtonText);
    if (!isTabEnabled(I)) Text = ToQColor(platform::clGrayText);
    int TextLeft = R.left();
    const QIcon Icon = tabIcon(I);
    if (!Icon.isNull()) {
      const QSize S = iconSize();
      Icon.paint(&P, QRect(R.left() + 4, R.top() + 2, S.width(), S.height()));
      TextLeft = R.left() + 4 + S.width();
    }
    QFont F = font();
    if (Active && !FOwner->DrawTabShadow()) F.setBold(true);
    P.setFont(F);
    P.setPen(Text);
    const QRect TextRect = QRect(QPoint(TextLeft, R.top()), R.bottomRight()).adjusted(2, 2, -2, -2);
    P.drawText(TextRect, Qt::AlignCenter | Qt::TextSingleLine, tabText(I));
    P.setPen(palette().color(QPalette::Mid));
    P.drawRect(R.adjusted(0, 0, -1, -1));
  }
}

void TWnTabBar::mousePressEvent(QMouseEvent* Event) {
  const int Index = tabAt(Event->position().toPoint());
  if (Event->button() == Qt::LeftButton && Index >= 0 && !isTabEnabled(Index)) {
    Event->accept();  // a disabled page's tab takes no click
    return;
  }
  QTabBar::mousePressEvent(Event);
}

// ----------------------------------------------------------- TWnPageControl

TWnPageControl::TWnPageControl(QWidget* Parent) : QTabWidget(Parent) { setTabBar(new TWnTabBar(this)); }

TWnPageControl::~TWnPageControl() {
  if (FHintSaved) QToolTip::setPalette(FSavedHintPalette);
}

void TWnPageControl::SetClientBorderWidth(int Value) {
  FClientBorderWidth = Value;
  AdjustDisplayRect();
}

void TWnPageControl::SetDrawTabShadow(bool Value) {
  FDrawTabShadow = Value;
  tabBar()->update();
}

void TWnPageControl::SetHideAllTabs(bool Value) {
  FHideAllTabs = Value;
  ApplyHideAllTabs();
}

void TWnPageControl::ApplyHideAllTabs() {
  const int Active = currentIndex();
  for (int I = 0; I < count(); ++I) setTabVisible(I, !FHideAllTabs);
  if (Active >= 0) setCurrentIndex(Active);
  tabBar()->setVisible(!FHideAllTabs);
  setFocusPolicy(FHideAllTabs ? Qt::NoFocus : Qt::TabFocus);
  AdjustDisplayRect();
}

void TWnPageControl::tabInserted(int Index) {
  QTabWidget::tabInserted(Index);
  // Pages added after HideAllTabs was set follow it too.
  if (FHideAllTabs) {
    const int Active = currentIndex();
    setTabVisible(Index, false);
    if (Active >= 0) setCurrentIndex(Active);
  }
  AdjustDisplayRect();
}

void TWnPageControl::AdjustDisplayRect() {
  auto* Stack = findChild<QStackedWidget*>(QString(), Qt::FindDirectChildrenOnly);
  if (!Stack) return;
  const int Grow = 4 - FClientBorderWidth;
  if (Grow == 0) return;
  Stack->setGeometry(Stack->geometry().adjusted(-Grow, -Grow, Grow, Grow).intersected(rect()));
}

void TWnPageControl::resizeEvent(QResizeEvent* Event) {
  QTabWidget::resizeEvent(Event);
  AdjustDisplayRect();
}

void TWnPageControl::showEvent(QShowEvent* Event) {
  QTabWidget::showEvent(Event);
  AdjustDisplayRect();
}

bool TWnPageControl::SelectNextPage(bool Forward) {
  const int N = count();
  const int Start = currentIndex();
  if (N < 2 || Start < 0) return false;
  int I = Start;
  for (;;) {
    I = (I + (Forward ? 1 : N - 1)) % N;
    if (I == Start) return false;
    if (isTabVisible(I) && isTabEnabled(I)) break;
  }
  if (!CanChange()) return false;
  setCurrentIndex(I);
  return true;
}

bool TWnPageControl::event(QEvent* Event) {
  // Ctrl+Tab would otherwise move the focus out of the control.
  if (Event->type() == QEvent::ShortcutOverride || Event->type() == QEvent::KeyPress) {
    auto* Key = static_cast<QKeyEvent*>(Event);
    if ((Key->key() == Qt::Key_Tab || Key->key() == Qt::Key_Backtab) && (Key->modifiers() & Qt::ControlModifier)) {
      if (Event->type() == QEvent::ShortcutOverride) {
        Event->accept();
        return true;
      }
      const bool Backward = Key->key() == Qt::Key_Backtab || (Key->modifiers() & Qt::ShiftModifier);
      if (SelectNextPage(!Backward)) {
        Event->accept();
        return true;
      }
    }
  }
  return QTabWidget::event(Event);
}

void TWnPageControl::keyPressEvent(QKeyEvent* Event) {
  if ((Event->key() == Qt::Key_Tab || Event->key() == Qt::Key_Backtab) && (Event->modifiers() & Qt::ControlModifier)) {
    Event->ignore();  // handled in event(); nothing else to page to
    return;
  }
  QTabWidget::keyPressEvent(Event);
}

void TWnPageControl::changeEvent(QEvent* Event) {
  QTabWidget::changeEvent(Event);
  if (Event->type() == QEvent::PaletteChange && OnParentColorChange) OnParentColorChange();
}

void TWnPageControl::enterEvent(QEnterEvent* Event) {
  QTabWidget::enterEvent(Event);
  if (!FHintSaved) {
    FSavedHintPalette = QToolTip::palette();
    FHintSaved = true;
  }
  QPalette P = FSavedHintPalette;
  P.setColor(QPalette::ToolTipBase, ToQColor(HintColor));
  QToolTip::setPalette(P);
  if (OnMouseEnter) OnMouseEnter();
}

void TWnPageControl::leaveEvent(QEvent* Event) {
  QTabWidget::leaveEvent(Event);
  if (FHintSaved) {
    QToolTip::setPalette(FSavedHintPalette);
    FHintSaved = false;
  }
  if (OnMouseLeave) OnMouseLeave();
}

}  // namespace wn
