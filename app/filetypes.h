// Registration of the picture file types with the desktop, run by the
// "-install", "-fixinstall" and "-uninstall" switches.
#pragma once

namespace app {
void InstallFileTypes();
void FixInstallFileTypes();
void UninstallFileTypes();
} // namespace app
