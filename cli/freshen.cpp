// zipkit freshen ARCHIVE [MASK...]: compresses again the entries (all, or those the masks
// select) whose files in the current folder have another date and time than the entry.
#include "cli/write_session.h"

namespace zipkit::cli {

void FreshenCommand(WriteSession& Session) {
  const auto& masks = Session.Options().args;
  if (masks.empty()) {
    Session.Kit().FreshenFiles("*.*");
    return;
  }
  for (const std::string& mask : masks) Session.Kit().FreshenFiles(mask);
}

}  // namespace zipkit::cli
