// Registration of the picture file types with the desktop, run by the
// "-install", "-fixinstall" and "-uninstall" switches and by the preferences'
// file-type page.
//
// The registration lives in the key store's classes root; it is mirrored to
// the XDG desktop as one desktop entry (with the "Browse" action and the
// MIME types of the picture extensions) and, for the types the program is the
// default handler of, as associations made with xdg-mime.
#pragma once

#include "platform/registry.h"

#include <string>
#include <vector>

namespace app {

inline constexpr const char* BrowseVerb = "Browse";
inline constexpr const char* OwnBrowseVerb = "Browse with Pictrova";
inline constexpr const char* DesktopEntryId = "pictrova.desktop";

// The whole table: each creates one registry object for all extensions.
// A failed write raises ERegistryException and stops the remaining ones.
void InstallFileTypes();
void FixInstallFileTypes();
void UninstallFileTypes();

// Reg is rooted at the classes root by the caller; Ext has its dot.
void RegisterFileType(platform::TRegistry& Reg, const std::string& Ext);
void UnregisterFileType(platform::TRegistry& Reg, const std::string& Ext);
void FixFileTypeCommand(platform::TRegistry& Reg, const std::string& Ext);

bool IsDefaultHandler(const std::string& Ext);
// True when one of the program's verbs became the default verb.
bool SetAsDefaultHandler(const std::string& Ext);
void ClearDefaultHandler(const std::string& Ext);

// The program's long path, and its path as it was started (absolute).
std::string FileTypeProgramPath();
std::string FileTypeCommandLinePath();
// Replaces both paths (empty texts: the running program's again).
void SetFileTypeProgramPaths(const std::string& LongPath, const std::string& CommandLinePath);

// "\"" + long path + "\" /shell \"%1\"".
std::string FileTypeCommand();

// The MIME types of the picture extensions, in table order, each once;
// extensions without a known picture type are left out.
std::vector<std::string> FileTypeMimeTypes();
// Empty when the extension has no known picture type.
std::string MimeTypeOfExtension(const std::string& Ext);

// Where the desktop entry goes ($XDG_DATA_HOME/applications), and its text.
std::string DesktopEntryPath();
std::string DesktopEntryText();

} // namespace app
