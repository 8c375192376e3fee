// The transition sounds the program carries: short waves made in code, so
// that the program needs no sound files beside it.
#pragma once

#include <QByteArray>

namespace app {

// The wave (16-bit mono PCM, 22,050 Hz, a RIFF image) of sound 1 to 10:
// "click1" to "click5", "camera1" to "camera3", "chimes", "projector".
// Empty for any other number.
QByteArray TransitionSoundWave(int number);

} // namespace app
