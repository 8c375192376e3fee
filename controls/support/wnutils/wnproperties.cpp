#include "controls/support/wnutils/wnproperties.h"

#include "platform/fileproperties.h"

namespace wn {

bool TWnObjectPropertiesDialog::Execute() {
  if (ObjectType != sdPathObject || ObjectName.empty()) return false;
  return platform::ShowFileProperties({ObjectName});
}

void TWnObjectPropertiesDialog::ExecuteAsync(QObject* Context, std::function<void(bool)> Done) {
  // Printers have no properties sheet here: an empty request is refused.
  std::vector<std::string> Paths;
  if (ObjectType == sdPathObject && !ObjectName.empty()) Paths.push_back(ObjectName);
  platform::ShowFilePropertiesAsync(Paths, Context, std::move(Done));
}

} // namespace wn
