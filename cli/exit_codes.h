// The zipkit tool's exit status.
#pragma once

namespace zipkit::cli {

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;   // some entries failed
constexpr int kExitCannotOpen = 2;   // the archive cannot be opened, or the usage is wrong

}  // namespace zipkit::cli
