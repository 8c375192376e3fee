// The path combo box: the shell's top folders as an indented tree (the
// desktop, its folders, the drives of Computer) with the chain of folders
// down to the one a linked folder list shows. Choosing an entry shows that
// folder in the list; drives coming and going refill it.
#pragma once

#include "shell/sxbase.h"
#include "shell/sxnotify.h"
#include "shell/sxshellitems.h"

#include <QtCore/QPointer>
#include <QtWidgets/QComboBox>

#include <functional>
#include <memory>

namespace sx {

class TSxCustomShellListView;

using TSxComboFolderEvent = std::function<void(TSyComponent* Sender, TSxShellFolder* Folder)>;

class TSxCustomShellComboBox : public QComboBox, public TSyComponent, public TSxShellComboClient {
public:
  explicit TSxCustomShellComboBox(QWidget* Parent = nullptr);
  ~TSxCustomShellComboBox() override;

  TSxCustomShellListView* ListView() const;
  void SetListView(TSxCustomShellListView* Value);
  TSxComboFolderEvent OnFolderSelected;
  TSxComboFolderEvent OnFolderChanging;

  TSxCustomShellController* Controller() const { return FController; }
  // Entry N is the folder of item N; its Value1 is the indent, Value2 1 for
  // an entry inserted for the path shown.
  TSxShellFolderList Folders;
  static int Indent(const TSxShellFolder* Folder) { return Folder ? Folder->Value1 : 0; }
  static bool Temporary(const TSxShellFolder* Folder) { return Folder && Folder->Value2 == 1; }
  TSxShellFolder* FolderAt(int Index) const;
  TSxShellNotification* Notifier() const { return FNotifier.get(); }
  int ItemHeight() const { return FItemHeight; }

  void SetFolder(TSxShellFolder* Folder, bool SelectOnly);
  void ShowPath(TSxShellFolder* Folder);
  void SelectByPath(const TSxShellItem& Folder);
  // The first entry of that path; -1 for none.
  int IndexOfPath(const std::string& Path) const;
  void Fill();
  // What the user does by picking an entry (or Enter in the edit part).
  void Choose(int Index);

  void AddFolder(std::unique_ptr<TSxShellFolder> Folder) override;

protected:
  virtual void DoFolderSelected(TSxShellFolder* Folder);
  virtual void DoFolderChanging(TSxShellFolder* Folder);

private:
  void DrivesChanged();
  void InsertEntry(int Index, std::unique_ptr<TSxShellFolder> Folder);
  void RemoveEntry(int Index);
  std::string LevelName(const TSxItemIDList& List) const;

  TSxCustomShellController* FController = nullptr;
  std::shared_ptr<TSxCustomShellController> FControllerRef;
  std::vector<std::shared_ptr<TSxCustomShellController>> FFormerControllers;
  QPointer<TSxCustomShellListView> FListView;
  std::unique_ptr<TSxShellFolder> FPrevious;
  int FChosen = -1;
  double FShellVersion;
  std::unique_ptr<TSxShellNotification> FNotifier;
  int FItemHeight = 16;
  int FUpdating = 0;
};

class TSxShellComboBox : public TSxCustomShellComboBox {
public:
  using TSxCustomShellComboBox::TSxCustomShellComboBox;
};

} // namespace sx
