#include "app/startup.h"

int main(int argc, char** argv) { return app::ProgramEntry(argc, argv); }
