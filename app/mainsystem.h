// What the main window's wallpaper, clipboard, print and scanner commands
// take from their surroundings, replaceable for tests.
#pragma once

#include <QSize>
#include <QString>
#include <functional>
#include <string>

class QDialog;

namespace app {

// The size of the screen the wallpaper is made for, in device pixels;
// unset, the main window's screen.
extern std::function<QSize()> WallpaperScreenSize;

// When set, the print windows and the printer set-up are shown without a
// modal loop and this answers them (see RunModal).
extern std::function<void(QDialog&)> SystemDialogAnswer;

// The wallpaper file made for a picture named Name: its extension replaced
// by ".bmp", in Folder. Bytes, as the name's own: twins whose texts read the
// same keep a wallpaper each.
std::string WallpaperPath(const std::string& Folder, const std::string& Name);

// The factor a picture of Width x Height is scaled by to fit a screen of
// Screen's size: 1 when it fits, else the smaller of the two axes' ratios.
double WallpaperScale(int Width, int Height, QSize Screen);

} // namespace app
