// The screen's cursor table: cursors are numbers, negative for the system's
// own shapes and positive for those a program registers (the picture view
// registers its drawn cursors there). The screen cursor overrides every
// control's cursor while it is not crDefault.
#pragma once

#include <QCursor>
#include <cstdint>

class QWidget;

namespace platform {

using TCursor = std::int16_t;

inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crNone = -1;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crSizeNESW = -6;
inline constexpr TCursor crSizeNS = -7;
inline constexpr TCursor crSizeNWSE = -8;
inline constexpr TCursor crSizeWE = -9;
inline constexpr TCursor crUpArrow = -10;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crDrag = -12;
inline constexpr TCursor crNoDrop = -13;
inline constexpr TCursor crHSplit = -14;
inline constexpr TCursor crVSplit = -15;
inline constexpr TCursor crMultiDrag = -16;
inline constexpr TCursor crSQLWait = -17;
inline constexpr TCursor crNo = -18;
inline constexpr TCursor crAppStart = -19;
inline constexpr TCursor crHelp = -20;
inline constexpr TCursor crHandPoint = -21;
inline constexpr TCursor crSizeAll = -22;

// Puts Cursor into the table under Number (replacing what was there).
void RegisterCursor(TCursor Number, const QCursor& Cursor);
bool IsCursorRegistered(TCursor Number);
// The cursor of a number; unknown numbers give the arrow.
QCursor CursorOf(TCursor Number);
// Shows Number on a control.
void SetControlCursor(QWidget* Control, TCursor Number);

// The screen cursor (Screen.Cursor): crDefault lets every control show its
// own cursor again.
void SetScreenCursor(TCursor Number);
TCursor ScreenCursor();

// While a question waits for the user the pointer is the arrow over every
// window, whatever screen cursor the work around the question set (an
// hourglass says the program is busy, and an animated one is work for the
// display server that it need not do meanwhile). Nothing changes when no
// screen cursor is set.
class TQuestionCursor {
public:
  TQuestionCursor();
  ~TQuestionCursor();
  TQuestionCursor(const TQuestionCursor&) = delete;
  TQuestionCursor& operator=(const TQuestionCursor&) = delete;

private:
  bool FSet = false;
};

} // namespace platform
