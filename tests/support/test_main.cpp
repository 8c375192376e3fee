// Test entry: Qt tests need a platform plugin even without a display, and
// get the same application object as the program.
#include "platform/application.h"

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  platform::MapLargeBlocksApart();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  platform::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
