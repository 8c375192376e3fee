#include "shell/sxdragdrop.h"
#include "shell/sxshelllist.h"
#include "shell/sxshelltree.h"
#include "shelltestenv.h"
#include "support/inotifywatches.h"

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QDrag>
#include <QtGui/QtEvents>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLineEdit>

#include <cstdio>
#include <sys/stat.h>

using namespace sx;
using shelltest::TPrivateHome;
using shelltest::Exists;
using shelltest::WaitFor;

namespace {

std::vector<std::string> Texts(const TSxCustomShellTreeView& tree, TSxTreeNode node) {
  std::vector<std::string> out;
  for (TSxTreeNode c : tree.NodeChildren(node)) out.push_back(tree.NodeText(c).toStdString());
  return out;
}

class ShellTree : public ::testing::Test {
protected:
  void SetUp() override {
    Root = Env.MakeDir("root");
    for (const char* d : {"root/b", "root/a/x/deep", "root/a/y", "root/C", "root/empty"}) Env.MakeDir(d);
    TPrivateHome::Touch(Root + "/file.txt");
  }
  // A tree rooted at Root, shown so that its first paint has happened.
  std::unique_ptr<TSxShellTreeView> MakeTree() {
    auto tree = std::make_unique<TSxShellTreeView>();
    tree->SetRootFolder(Root);
    tree->Controller()->OnCommandError = [this](const std::string& text) { Errors.push_back(text); };
    tree->show();
    EXPECT_TRUE(WaitFor([&] { return tree->StartInSelected(); }));
    return tree;
  }
  TSxTreeNode Node(TSxCustomShellTreeView& tree, const std::string& rel) {
    return tree.FindNodeByPath(Root + (rel.empty() ? "" : "/" + rel));
  }
  TPrivateHome Env;
  std::string Root;
  std::vector<std::string> Errors;
};

} // namespace

TEST_F(ShellTree, DefaultsShowTheDesktopExpanded) {
  TPrivateHome::Touch(Env.Home + "/Desktop/note.txt");
  Env.MakeDir("home/Desktop/zeta");
  Env.MakeDir("home/Desktop/Alpha");
  TSxShellTreeView tree;
  EXPECT_EQ(tree.width(), 180);
  EXPECT_EQ(tree.height(), 270);
  EXPECT_EQ(tree.Options(), toAllowRename | toAllowDrag | toAllowDrop | toExpandTopNode | toShellMenu);
  EXPECT_EQ(tree.ExpandInterval, 2000);
  EXPECT_EQ(tree.CompressedColor(), QColor(0, 0, 255));
  EXPECT_EQ(tree.SpecialRootFolder(), sfDesktop);
  EXPECT_EQ(tree.SpecialStartInFolder(), sfNone);
  EXPECT_TRUE(tree.RootFolder().empty());
  EXPECT_FALSE(tree.rootIsDecorated());
  EXPECT_EQ(tree.Version(), "1.02");
  ASSERT_EQ(tree.NodeChildren(nullptr).size(), 1u);
  TSxTreeNode top = tree.TopNode();
  EXPECT_EQ(tree.NodeText(top), "Desktop");
  EXPECT_TRUE(tree.NodeExpanded(top));
  // The virtual roots first, then the desktop's folders by name; no files.
  EXPECT_EQ(Texts(tree, top), (std::vector<std::string>{"Home", "Computer", "Trash", "Alpha", "zeta"}));
  EXPECT_EQ(tree.Notifier()->QueueLimit, 5);
}

TEST_F(ShellTree, ChildrenAreReadOnFirstExpansion) {
  auto tree = MakeTree();
  TSxTreeNode top = tree->TopNode();
  EXPECT_EQ(Texts(*tree, top), (std::vector<std::string>{"a", "b", "C", "empty"}));
  TSxTreeNode a = Node(*tree, "a");
  EXPECT_TRUE(tree->NodeHasChildren(a));
  EXPECT_TRUE(tree->NodeChildren(a).empty());
  const int folders = tree->FolderList.Count();
  tree->ExpandNode(a);
  EXPECT_EQ(Texts(*tree, a), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(tree->FolderList.Count(), folders + 2);
  // A folder without sub-folders loses its button once read.
  TSxTreeNode empty = Node(*tree, "empty");
  EXPECT_TRUE(tree->NodeHasChildren(empty));
  tree->ExpandNode(empty);
  EXPECT_FALSE(tree->NodeHasChildren(empty));
  // The notifier follows every folder read.
  const std::set<std::string>& watched = tree->Notifier()->ExtraWatchFolders();
  EXPECT_TRUE(watched.count(Root) && watched.count(Root + "/a") && watched.count(Root + "/empty"));
  EXPECT_FALSE(watched.count(Root + "/b"));
}

// A hidden tree (a dialog kept for next time) watches nothing; shown again,
// it reads its folders anew and follows them again.
TEST_F(ShellTree, WatchesOnlyWhileShown) {
  const int before = testing_support::InotifyWatches();
  auto tree = std::make_unique<TSxShellTreeView>();
  tree->SetRootFolder(Root);
  EXPECT_EQ(testing_support::InotifyWatches(), before); // never shown yet
  tree->show();
  ASSERT_TRUE(WaitFor([&] { return tree->StartInSelected(); }));
  tree->ExpandNode(Node(*tree, "a"));
  const int shown = testing_support::InotifyWatches();
  EXPECT_GE(shown, before + 2);
  tree->hide();
  EXPECT_EQ(testing_support::InotifyWatches(), before);
  Env.MakeDir("root/a/z");
  tree->show();
  EXPECT_EQ(testing_support::InotifyWatches(), shown);
  EXPECT_EQ(Texts(*tree, Node(*tree, "a")), (std::vector<std::string>{"x", "y", "z"}));
  tree.reset();
  EXPECT_EQ(testing_support::InotifyWatches(), before);
}

TEST_F(ShellTree, SelectFolderPathExpandsTheWayAndRefusesOutsideTheRoot) {
  auto tree = MakeTree();
  std::vector<std::string> selected;
  tree->OnFolderSelected = [&](TSyComponent*, TSxShellFolder* f) { selected.push_back(f->Path); };
  tree->SelectFolderPath(Root + "/a/x/deep");
  ASSERT_TRUE(tree->SelectedFolder());
  EXPECT_EQ(tree->SelectedFolder()->Path, Root + "/a/x/deep");
  EXPECT_TRUE(tree->NodeExpanded(Node(*tree, "a/x")));
  EXPECT_EQ(selected, std::vector<std::string>{Root + "/a/x/deep"});
  EXPECT_EQ(tree->StartInFolder(), Root + "/a/x/deep");
  for (const std::string& outside : {std::string("/usr"), Env.Home}) {
    try {
      tree->SelectFolderPath(outside);
      ADD_FAILURE() << outside;
    } catch (const ESyInvalidFolder& e) {
      EXPECT_EQ(e.ErrorCode, 240);
    }
  }
  EXPECT_EQ(tree->SelectedFolder()->Path, Root + "/a/x/deep");
}

TEST_F(ShellTree, StartInFolderIsSelectedAtTheFirstPaint) {
  TSxShellTreeView tree;
  tree.SetStartInFolder(Root + "/a/y");
  tree.SetRootFolder(Root);
  EXPECT_FALSE(tree.StartInSelected());
  EXPECT_EQ(tree.SelectedFolder(), nullptr);
  // The way down is open before any paint.
  EXPECT_TRUE(tree.NodeExpanded(tree.FindNodeByPath(Root + "/a")));
  tree.show();
  ASSERT_TRUE(WaitFor([&] { return tree.SelectedFolder() != nullptr; }));
  EXPECT_EQ(tree.SelectedFolder()->Path, Root + "/a/y");
}

TEST_F(ShellTree, ChangesMadeElsewhereReachTheNodes) {
  auto tree = MakeTree();
  tree->ExpandNode(Node(*tree, "a"));
  tree->ExpandNode(Node(*tree, "a/x"));
  // A folder made in a folder that was read.
  ASSERT_EQ(::mkdir((Root + "/a/new").c_str(), 0777), 0);
  ASSERT_TRUE(WaitFor([&] { return Node(*tree, "a/new") != nullptr; }));
  EXPECT_EQ(Texts(*tree, Node(*tree, "a")), (std::vector<std::string>{"new", "x", "y"}));
  // A rename: the node follows, and so do the paths below it.
  ASSERT_EQ(std::rename((Root + "/a/x").c_str(), (Root + "/a/z").c_str()), 0);
  ASSERT_TRUE(WaitFor([&] { return Node(*tree, "a/z/deep") != nullptr; }));
  EXPECT_EQ(Node(*tree, "a/x"), nullptr);
  EXPECT_EQ(Node(*tree, "a/x/deep"), nullptr);
  EXPECT_EQ(Texts(*tree, Node(*tree, "a")), (std::vector<std::string>{"new", "y", "z"}));
  // A deletion.
  ASSERT_EQ(::rmdir((Root + "/a/new").c_str()), 0);
  ASSERT_TRUE(WaitFor([&] { return Node(*tree, "a/new") == nullptr; }));
}

// A folder made and gone again before the tree has looked at it whole: the
// tree looks once and keeps what it found (nothing to expand), and the
// deletion that follows takes the node away.
TEST_F(ShellTree, AFolderGoneAmidTheTreesLookIsNoFault) {
  auto tree = MakeTree();
  tree->ExpandNode(Node(*tree, "a"));
  const std::string brief = Root + "/a/brief";
  int bound = 0;
  tree->Controller()->OnFolderBound = [&](const TSxNamespaceFolder& folder) {
    if (folder.Path() == brief && bound++ == 0) ::rmdir(brief.c_str());
  };
  ASSERT_EQ(::mkdir(brief.c_str(), 0777), 0);
  ASSERT_TRUE(WaitFor([&] { return bound > 0; }));
  EXPECT_EQ(bound, 1);
  if (TSxTreeNode n = Node(*tree, "a/brief")) {
    EXPECT_FALSE(tree->NodeHasChildren(n));
  }
  ASSERT_TRUE(WaitFor([&] { return Node(*tree, "a/brief") == nullptr; }));
  tree->Controller()->OnFolderBound = nullptr;
}

TEST_F(ShellTree, DeletedSelectionPassesToNextElsePreviousElseParent) {
  auto tree = MakeTree();
  TSxTreeNode a = Node(*tree, "a");
  tree->ExpandNode(a);
  struct TCase {
    const char* Select;
    const char* Delete;
    const char* Expected;
  };
  const TCase cases[] = {
      {"a/x/deep", "a/x", "a/y"},  // a node holding the selection goes: the next one takes it
      {"a/y", "a/y", "a"},         // the only child left: the parent
      {"empty", "empty", "C"},     // the last child: the previous one
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Delete);
    tree->SelectFolderPath(Root + "/" + c.Select);
    ASSERT_EQ(std::system(("rm -r '" + Root + "/" + c.Delete + "'").c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return Node(*tree, c.Delete) == nullptr; }));
    ASSERT_TRUE(tree->SelectedFolder());
    EXPECT_EQ(tree->SelectedFolder()->Path, Root + "/" + c.Expected);
    EXPECT_EQ(tree->NodeFolder(tree->SelectedNode()), tree->SelectedFolder());
  }
}

TEST_F(ShellTree, RefreshNodeKeepsExpansionAndSelection) {
  auto tree = MakeTree();
  tree->SelectFolderPath(Root + "/a/x/deep");
  const TSxShellFolder* before = tree->SelectedFolder();
  Env.MakeDir("root/a/w");
  tree->RefreshNode(Node(*tree, "a"));
  EXPECT_EQ(Texts(*tree, Node(*tree, "a")), (std::vector<std::string>{"w", "x", "y"}));
  EXPECT_TRUE(tree->NodeExpanded(Node(*tree, "a/x")));
  ASSERT_TRUE(tree->SelectedFolder());
  EXPECT_NE(tree->SelectedFolder(), before);  // a new folder object, the old one freed
  EXPECT_EQ(tree->SelectedFolder()->Path, Root + "/a/x/deep");
  EXPECT_EQ(tree->NodeFolder(tree->SelectedNode()), tree->SelectedFolder());
}

TEST_F(ShellTree, RenamesInPlaceAndRefusesBadNames) {
  auto tree = MakeTree();
  tree->SelectFolderPath(Root + "/b");
  auto renameTo = [&](const QString& text) {
    QTest::keyClick(tree.get(), Qt::Key_F2);
    auto* editor = tree->findChild<QLineEdit*>();
    if (!editor) return false;
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The editor hands its text over from the event loop.
    return WaitFor([&] { return !tree->findChild<QLineEdit*>() || !tree->findChild<QLineEdit*>()->isVisible(); });
  };
  ASSERT_TRUE(renameTo("b2"));
  EXPECT_TRUE(Exists(Root + "/b2"));
  EXPECT_FALSE(Exists(Root + "/b"));
  ASSERT_TRUE(WaitFor([&] { return Node(*tree, "b2") != nullptr && Node(*tree, "b") == nullptr; }));
  ASSERT_TRUE(tree->SelectedFolder());
  EXPECT_EQ(tree->SelectedFolder()->Path, Root + "/b2");

  const std::string tooLong(256, 'n');
  struct TCase {
    std::string Name;
    const char* Error;
  };
  const TCase refused[] = {{"x/y", "not a valid name"}, {"..", "not a valid name"}, {tooLong, "not a valid name"},
                           {"C", "already exists"}};
  for (const TCase& c : refused) {
    SCOPED_TRACE(c.Name);
    Errors.clear();
    tree->SelectFolderPath(Root + "/b2");
    EXPECT_FALSE(tree->RenameNode(tree->SelectedNode(), c.Name));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find(c.Error), std::string::npos) << Errors[0];
    EXPECT_TRUE(Exists(Root + "/b2"));
    EXPECT_TRUE(Exists(Root + "/C"));
  }
}

TEST_F(ShellTree, DragOverExpandsAfterTheIntervalAndDropMovesTheFile) {
  auto tree = MakeTree();
  tree->resize(300, 400);
  const std::string source = Env.MakeDir("elsewhere") + "/moved.txt";
  TPrivateHome::Touch(source);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(source))});
  TSxTreeNode a = Node(*tree, "a");
  const QPoint at = tree->NodeRect(a).center();
  QWidget* viewport = tree->viewport();

  tree->ExpandInterval = 30;
  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &move);
  EXPECT_TRUE(move.isAccepted());
  EXPECT_EQ(move.dropAction(), Qt::MoveAction);  // one device, no key
  EXPECT_EQ(tree->DropTargetNode(), a);
  ASSERT_TRUE(WaitFor([&] { return tree->NodeExpanded(a); }));

  QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_TRUE(Exists(Root + "/a/moved.txt"));
  EXPECT_FALSE(Exists(source));
  EXPECT_EQ(tree->DropTargetNode(), nullptr);

  // Without a file list nothing may drop anywhere.
  QMimeData text;
  text.setText("words");
  QDragEnterEvent refused(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &refused);
  EXPECT_FALSE(refused.isAccepted());
}

// The tree's dialog closed by a key while a drag from the tree runs: the
// dialog, the tree and the drag go in the drag's loop, and nothing of them
// is used after.
TEST_F(ShellTree, ADialogClosedWhileItsTreesDragRunsLeavesNothingUsed) {
  struct TDragTree : TSxShellTreeView {
    using TSxShellTreeView::TSxShellTreeView;
    using TSxCustomShellTreeView::startDrag;
  };
  QPointer<QDialog> dialog = new QDialog;
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  auto* tree = new TDragTree(dialog);
  tree->SetRootFolder(Root);
  dialog->show();
  ASSERT_TRUE(WaitFor([&] { return tree->StartInSelected(); }));
  tree->SelectNode(Node(*tree, "a"));
  const std::shared_ptr<TSxCustomShellController> controller = tree->SharedController();
  int drags = 0;
  SxDragLoop = [&](QDrag& drag, Qt::DropActions) {
    ++drags;
    EXPECT_EQ(controller->DragSource, static_cast<TSxShellTreeClient*>(tree));
    EXPECT_EQ(drag.parent(), tree);
    QEventLoop loop;
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QCoreApplication::postEvent(dialog, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    loop.exec();
    return Qt::IgnoreAction;
  };
  tree->startDrag(Qt::CopyAction);
  SxDragLoop = nullptr;
  EXPECT_EQ(drags, 1);
  EXPECT_FALSE(dialog);
  EXPECT_EQ(controller->DragSource, nullptr);
  delete dialog;
}

TEST_F(ShellTree, ExpandIntervalZeroNeverExpands) {
  auto tree = MakeTree();
  tree->ExpandInterval = 0;
  TPrivateHome::Touch(Root + "/f.txt");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Root + "/f.txt"))});
  TSxTreeNode b = Node(*tree, "a");
  const QPoint at = tree->NodeRect(b).center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tree->viewport(), &enter);
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tree->viewport(), &move);
  EXPECT_EQ(tree->DropTargetNode(), b);
  EXPECT_FALSE(tree->ExpandPending());
  QDragLeaveEvent leave;
  QApplication::sendEvent(tree->viewport(), &leave);
  EXPECT_EQ(tree->DropTargetNode(), nullptr);
}

TEST_F(ShellTree, SelectionMovesALinkedList) {
  auto tree = MakeTree();
  TSxShellListView list;
  list.SetTreeView(tree.get());
  EXPECT_EQ(list.Controller(), tree->Controller());
  EXPECT_EQ(tree->ListView(), &list);
  tree->SelectNode(Node(*tree, "a"));
  ASSERT_TRUE(WaitFor([&] { return list.CurrentFolder() && !list.Loading(); }));
  EXPECT_EQ(list.CurrentFolder()->Path, Root + "/a");
  EXPECT_EQ(list.RowCount(), 2);
  // Selecting for the list leaves it where it is.
  auto other = TSxShellFolder::CreateFromPath(Root + "/b", tree->Controller());
  EXPECT_TRUE(tree->SelectFolder(*other, true));
  EXPECT_EQ(tree->SelectedFolder()->Path, Root + "/b");
  EXPECT_EQ(list.CurrentFolder()->Path, Root + "/a");
  // ...and only that once.
  tree->SelectNode(Node(*tree, "C"));
  ASSERT_TRUE(WaitFor([&] { return list.CurrentFolder()->Path == Root + "/C"; }));
}
