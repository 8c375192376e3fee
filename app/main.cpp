#include "app/startup.h"
#include "platform/application.h"

int main(int argc, char** argv) {
  platform::MapLargeBlocksApart();
  return app::ProgramEntry(argc, argv);
}
