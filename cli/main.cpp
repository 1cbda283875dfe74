// zipkit: lists, tests, extracts and writes ZIP archives with the engine's zip kit component.
// The reading commands live in read_session.cpp, the writing ones in write_session.cpp and one
// file per command.
#include <string>

#include "cli/read_commands.h"
#include "cli/write_commands.h"

int main(int argc, char** argv) {
  using namespace zipkit::cli;
  if (argc >= 2 && IsWriteCommand(argv[1])) return RunWriteCommand(argc, argv);
  return RunReadCommand(argc, argv);
}
