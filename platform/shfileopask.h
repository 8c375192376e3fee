// The question a file operation asks the user when nobody answers for it.
#pragma once

#include "platform/shfileop.h"

#include <string>

class QWidget;

namespace platform {

// Asks with a message box over Owner; ToTrash words a delete as a move to
// the trash.
TFileOpAnswer AskFileOpConfirm(QWidget* Owner, const std::string& Title, TFileOpConfirm Kind,
                               const std::string& Source, const std::string& Target, bool ToTrash);

} // namespace platform
