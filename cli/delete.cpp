// zipkit delete ARCHIVE MASK...: drops the entries whose stored names the masks select.
#include "cli/write_session.h"

namespace zipkit::cli {

void DeleteCommand(WriteSession& Session) {
  for (const std::string& mask : Session.Options().args) {
    const int before = Session.Events();
    Session.Kit().DeleteFiles(mask);
    if (Session.Events() == before) Session.Fail(mask, "name not matched");
  }
}

}  // namespace zipkit::cli
