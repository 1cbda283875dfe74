// zipkit replace ARCHIVE FILE...: adds as add does, but an entry of the same name is compressed
// again from the file instead of being reported.
#include "cli/write_session.h"

namespace zipkit::cli {


void ReplaceCommand(WriteSession& Session) {
  Session.Archive().StoreOptions.Include(soReplace);
  AddNamedFiles(Session);
}

}  // namespace zipkit::cli
