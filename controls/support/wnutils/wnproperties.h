// The desktop's properties sheet of a file, asked of the file manager.
#pragma once

#include "controls/support/wnutils/wnshfileop.h"

#include <functional>
#include <string>

class QObject;

namespace wn {

enum TShellObjectType { sdPathObject, sdPrinterObject };

class TWnObjectPropertiesDialog : public TWnCommonDialog {
public:
  std::string ObjectName;
  TShellObjectType ObjectType = sdPathObject;
  std::string InitialTab; // the file manager opens its own first page

  // True when the file manager took the request. Printers have no
  // properties sheet here.
  bool Execute() override;
  // The same request without waiting for the file manager: returns at once;
  // Done gets the answer from the event loop (false also when there is no
  // file, no session bus or nothing serving the request), unless Context is
  // gone by then.
  void ExecuteAsync(QObject* Context, std::function<void(bool)> Done);
};

} // namespace wn
