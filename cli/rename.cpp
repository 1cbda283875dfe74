// zipkit rename ARCHIVE OLD NEW: gives one entry a new stored name; its data is copied as it is.
#include "cli/write_session.h"

namespace zipkit::cli {

void RenameCommand(WriteSession& Session) {
  const std::string& old_name = Session.Options().args[0];
  const std::string& new_name = Session.Options().args[1];
  TAbZipArchive& archive = Session.Archive();
  const int32_t index = archive.Items.IndexOfName(old_name);
  if (index == -1) {
    Session.Fail(old_name, "name not matched");
    return;
  }
  Session.Kit().Move(archive.ZipItem(index), EngineName(new_name));
}

}  // namespace zipkit::cli
