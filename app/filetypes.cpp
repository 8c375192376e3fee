#include "app/filetypes.h"

namespace app {

// The switches are dispatched from start-up; the registration itself is not
// written yet, so each of them ends the process without a change.
void InstallFileTypes() {}
void FixInstallFileTypes() {}
void UninstallFileTypes() {}

} // namespace app
