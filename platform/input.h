// The class library's mouse and keyboard vocabulary: mouse buttons, the
// shift state that accompanies every mouse and key event, and the event
// signatures of the controls, made from Qt's events.
#pragma once

#include <Qt>
#include <cstdint>
#include <functional>

namespace platform {

enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };

// A set of flags.
using TShiftState = std::uint8_t;
inline constexpr TShiftState ssShift = 1u << 0;
inline constexpr TShiftState ssAlt = 1u << 1;
inline constexpr TShiftState ssCtrl = 1u << 2;
inline constexpr TShiftState ssLeft = 1u << 3;
inline constexpr TShiftState ssRight = 1u << 4;
inline constexpr TShiftState ssMiddle = 1u << 5;
inline constexpr TShiftState ssDouble = 1u << 6;

inline TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons) {
  TShiftState s = 0;
  if (Modifiers & Qt::ShiftModifier) s |= ssShift;
  if (Modifiers & Qt::AltModifier) s |= ssAlt;
  if (Modifiers & Qt::ControlModifier) s |= ssCtrl;
  if (Buttons & Qt::LeftButton) s |= ssLeft;
  if (Buttons & Qt::RightButton) s |= ssRight;
  if (Buttons & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

// False for the buttons the class library does not know (back, forward...).
inline bool MouseButtonOf(Qt::MouseButton Button, TMouseButton& Result) {
  switch (Button) {
    case Qt::LeftButton: Result = mbLeft; return true;
    case Qt::RightButton: Result = mbRight; return true;
    case Qt::MiddleButton: Result = mbMiddle; return true;
    default: return false;
  }
}

// (Sender, Button, Shift, X, Y) in client coordinates.
using TMouseEvent = std::function<void(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
// (Sender, Shift, X, Y)
using TMouseMoveEvent = std::function<void(void* Sender, TShiftState Shift, int X, int Y)>;
// (Sender, Key, Shift): Key is a Qt key code; a handler may set it to 0 to
// consume the key.
using TKeyEvent = std::function<void(void* Sender, int& Key, TShiftState Shift)>;

} // namespace platform
