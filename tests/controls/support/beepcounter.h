// Counts the warning sounds of the edit controls for the life of a test.
#pragma once

#include "controls/support/qocontrols/qocontrols.h"

struct TBeepCounter {
  TBeepCounter() {
    wn::MessageBeepHook = [this](unsigned) { ++Count; };
  }
  ~TBeepCounter() { wn::MessageBeepHook = nullptr; }
  TBeepCounter(const TBeepCounter&) = delete;
  TBeepCounter& operator=(const TBeepCounter&) = delete;
  int Count = 0;
};
