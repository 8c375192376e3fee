// The desktop's properties sheet of a file, asked of the file manager.
#pragma once

#include "controls/support/wnutils/wnshfileop.h"

#include <string>

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
};

} // namespace wn
