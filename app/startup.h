// The program entry: single instance, command-line switches, main window.
#pragma once

#include <QStringList>
#include <string>
#include <vector>

#include "app/emailsizedlg.h"
#include "app/newfolderdlg.h"
#include "app/notificationdlg.h"
#include "app/openfolderdlg.h"
#include "app/optionsform.h"
#include "app/renamedlg.h"
#include "app/saveasform.h"
#include "app/toolbox.h"

namespace app {

inline constexpr const char* MutexName = "Pictrova3";
inline constexpr const char* DdeService = "Pictrova3";
inline constexpr const char* DdeTopic = "Ptv_Main";
inline constexpr const char* ApplicationTitle = "Pictrova 3";

int ProgramEntry(int argc, char** argv);

// The forms made at start-up after the main window, in their order (members
// are built as declared). Each one makes itself reachable to the others as
// it is built and none shows until it is asked to. The open-folder dialog
// walks to its starting folder only when first used: at start-up that walk
// (and the listing of a folder just opened) would hold up the main window.
struct TStartupForms {
  explicit TStartupForms(const std::vector<std::string>& RecentFolders)
      : OpenFolder(RecentFolders, nullptr, TOpenFolderForm::tsAtFirstUse) {}
  TOptionsForm Options;
  TToolBox Tools;
  TEmailSizeDlg EmailSize;
  TRenameDlg Rename;
  TNewFolderDlg NewFolder;
  TNotificationDlg Notification;
  TOpenFolderForm OpenFolder;
  TSaveAsForm SaveAs;
};

// What a second instance sends for its arguments: "EXIT", the absolute path
// of an existing file or folder (its bytes), or the empty macro.
std::string SecondInstanceMacro(const std::vector<std::string>& arguments);

} // namespace app
