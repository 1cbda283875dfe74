// The writing commands of the zipkit tool (add, replace, freshen, delete, rename, comment).
#pragma once

#include <string>

namespace zipkit::cli {

// True when Command is one of the writing commands.
bool IsWriteCommand(const std::string& Command);
// Runs the writing command argv[1]; returns the exit status.
int RunWriteCommand(int argc, char** argv);
// The usage lines of the writing commands.
extern const char kWriteUsage[];

}  // namespace zipkit::cli
