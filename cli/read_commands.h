// The reading commands of the zipkit tool (list, test, extract).
#pragma once

namespace zipkit::cli {

// Runs the reading command argv[1], or reports the usage of every command when argv[1] is none
// of them; returns the exit status.
int RunReadCommand(int argc, char** argv);
// The usage lines of the reading commands.
extern const char kReadUsage[];

}  // namespace zipkit::cli
