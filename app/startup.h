// The program entry: single instance, command-line switches, main window.
#pragma once

#include <QString>
#include <QStringList>

namespace app {

inline constexpr const char* MutexName = "Pictrova3";
inline constexpr const char* DdeService = "Pictrova3";
inline constexpr const char* DdeTopic = "Ptv_Main";
inline constexpr const char* ApplicationTitle = "Pictrova 3";

int ProgramEntry(int argc, char** argv);

// What a second instance sends for its arguments: "EXIT", the absolute path
// of an existing file or folder, or the empty macro.
QString SecondInstanceMacro(const QStringList& arguments);

} // namespace app
