// A main window for the window tests, made on first use after the settings
// the test wrote, in an environment of the test's own that outlives it.
#pragma once

#include "app/mainform.h"
#include "apptestenv.h"
#include "image/views/rastrumview.h"

#include <gtest/gtest.h>
#include <memory>

namespace apptest {

class TMainWindowHost {
protected:
  app::TMainForm& Form() {
    if (!FForm) {
      FForm = std::make_unique<app::TMainForm>(std::vector<std::string>{}, nullptr);
      FForm->resize(640, 480);
      FForm->show();
    }
    return *FForm;
  }
  // Opens the file and waits until it is read and its transition has run.
  void Show(const std::string& Path) {
    Form().OpenPath(Path, false);
    Loaded();
    ASSERT_TRUE(WaitUntil([&] { return !Form().RastrumView1->TransitionRunning(); }));
  }
  // Waits until the picture asked for last has been read and shown (or its
  // error path has run), with an animation's frames.
  void Loaded() {
    ASSERT_TRUE(WaitUntil([&] { return !Form().PictureLoadPending() && !Form().FramesLoadPending(); }));
  }

  TAppEnv Env;
  std::unique_ptr<app::TMainForm> FForm;
};

} // namespace apptest
