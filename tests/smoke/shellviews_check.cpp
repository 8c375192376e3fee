// The shell views in a real window, for the check under a virtual display.
//   show <work>: a window with the folder tree, the path combo box and the
//     folder list linked, on <work>/tree with <work>/tree/src shown; once
//     all three agree it writes <work>/geometry.txt (screen rectangles and
//     colours) and keeps running.
//   pixels <screenshot> <geometry>: checks the screenshot against them.
#include "shell/sxshellcombo.h"
#include "shell/sxshelllist.h"
#include "shell/sxshelltree.h"

#include <QtCore/QFile>
#include <QtCore/QSet>
#include <QtCore/QTextStream>
#include <QtCore/QTimer>
#include <QtGui/QImage>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QTreeView>
#include <QtWidgets/QVBoxLayout>

#include <cstdio>
#include <map>

namespace {

using namespace sx;

QRect Global(QWidget* w, const QRect& r) { return QRect(w->mapToGlobal(r.topLeft()), r.size()); }

int Show(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::string work = argv[2];
  const std::string root = work + "/tree";

  QWidget window;
  window.setWindowTitle("Shell views");
  auto* tree = new TSxShellTreeView;
  auto* combo = new TSxShellComboBox;
  auto* list = new TSxShellListView;
  auto* right = new QVBoxLayout;
  right->addWidget(combo);
  right->addWidget(list);
  auto* layout = new QHBoxLayout(&window);
  layout->addWidget(tree);
  layout->addLayout(right, 1);
  tree->setMinimumWidth(260);
  list->SetViewStyle(vsReport);
  tree->SetStartInFolder(root + "/src");
  tree->SetRootFolder(root);
  list->SetTreeView(tree);
  combo->SetListView(list);
  tree->Controller()->OnCommandError = [](const std::string& text) { std::fprintf(stderr, "error: %s\n", text.c_str()); };
  window.resize(900, 600);
  window.move(0, 0);
  window.show();

  QTimer poll;
  bool written = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (written || !tree->SelectedFolder() || !list->CurrentFolder() || list->Loading() || combo->currentIndex() < 0)
      return;
    const std::string shown = list->CurrentFolder()->Path;
    const bool linked = tree->SelectedFolder()->Path == shown && combo->FolderAt(combo->currentIndex())->Path == shown;
    if (!linked) return;
    QFile file(QString::fromStdString(work + "/geometry.txt.part"));
    if (!file.open(QIODevice::WriteOnly)) return;
    QTextStream out(&file);
    auto rect = [&](const char* name, const QRect& r) {
      out << name << ' ' << r.x() << ' ' << r.y() << ' ' << r.width() << ' ' << r.height() << '\n';
    };
    auto rowRect = [&](const char* name) {
      const int row = list->RowByCaption(name);
      QAbstractItemView* view = list->ActiveView();
      QRect r = view->visualRect(view->model()->index(row, 0));
      return Global(view->viewport(), r);
    };
    rect("window", Global(&window, window.rect()));
    rect("src", Global(tree->viewport(), tree->NodeRect(tree->FindNodeByPath(root + "/src"))));
    rect("dest", Global(tree->viewport(), tree->NodeRect(tree->FindNodeByPath(root + "/dest"))));
    rect("drag", rowRect("drag.txt"));
    rect("copy", rowRect("copy.txt"));
    rect("best", rowRect("2024=best"));
    rect("combo", Global(combo, combo->rect()));
    const QPalette p = tree->palette();
    out << "highlight " << p.color(QPalette::Active, QPalette::Highlight).rgb() << ' '
        << p.color(QPalette::Inactive, QPalette::Highlight).rgb() << '\n';
    out << "base " << p.color(QPalette::Base).rgb() << '\n';
    file.close();
    file.rename(QString::fromStdString(work + "/geometry.txt"));
    written = true;
  });
  poll.start(50);
  return app.exec();
}

struct TGeometry {
  std::map<std::string, QRect> Rects;
  QRgb Highlight[2] = {0, 0};
  QRgb Base = 0;
};

bool Read(const char* path, TGeometry& g) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QTextStream in(&file);
  while (!in.atEnd()) {
    QString name;
    in >> name;
    if (name == "highlight") {
      quint32 a = 0, b = 0;
      in >> a >> b;
      g.Highlight[0] = a;
      g.Highlight[1] = b;
    } else if (name == "base") {
      quint32 a = 0;
      in >> a;
      g.Base = a;
    } else if (!name.isEmpty()) {
      int x = 0, y = 0, w = 0, h = 0;
      in >> x >> y >> w >> h;
      g.Rects[name.toStdString()] = QRect(x, y, w, h);
    }
  }
  return true;
}

// Shares of a rectangle's pixels in the highlight colour and off the base.
void Shares(const QImage& shot, const QRect& r, const TGeometry& g, double& highlight, double& inked) {
  int n = 0, h = 0, i = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb c = shot.pixel(x, y) & 0xFFFFFF;
      ++n;
      h += c == (g.Highlight[0] & 0xFFFFFF) || c == (g.Highlight[1] & 0xFFFFFF);
      i += c != (g.Base & 0xFFFFFF);
    }
  highlight = n ? static_cast<double>(h) / n : 0;
  inked = n ? static_cast<double>(i) / n : 0;
}

int Pixels(char** argv) {
  const QImage shot(QString::fromLocal8Bit(argv[2]));
  TGeometry g;
  if (shot.isNull() || !Read(argv[3], g)) {
    std::fprintf(stderr, "no screenshot or geometry\n");
    return 1;
  }
  int failures = 0;
  auto expect = [&](bool ok, const char* what, double a, double b) {
    std::printf("%s %s (%.2f, %.2f)\n", ok ? "ok  " : "FAIL", what, a, b);
    failures += !ok;
  };
  double h = 0, i = 0;
  Shares(shot, g.Rects["src"], g, h, i);
  expect(h > 0.3, "the tree's start-in folder is selected", h, i);
  Shares(shot, g.Rects["dest"], g, h, i);
  expect(h < 0.05 && i > 0.02 && i < 0.6, "another folder shows its icon and name unselected", h, i);
  for (const char* row : {"drag", "copy"}) {
    Shares(shot, g.Rects[row], g, h, i);
    expect(h < 0.05 && i > 0.02, row, h, i);
  }
  // The edit part of the combo box: the folder's icon and name.
  const QRect combo = g.Rects["combo"];
  QSet<QRgb> colours;
  for (int y = combo.top() + 2; y < combo.bottom() - 2; ++y)
    for (int x = combo.left() + 2; x < combo.left() + 60; ++x) colours.insert(shot.pixel(x, y));
  expect(colours.size() >= 6, "the combo box shows the folder's icon and name", colours.size(), 0);
  const QRect window = g.Rects["window"];
  expect(window.width() >= 800 && window.height() >= 500 && shot.rect().contains(window), "the window is on screen",
         window.width(), window.height());
  return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "show") return Show(argc, argv);
  if (argc == 4 && std::string(argv[1]) == "pixels") return Pixels(argv);
  std::fprintf(stderr, "usage: %s show <work> | pixels <screenshot> <geometry>\n", argv[0]);
  return 2;
}
