// zipkit comment ARCHIVE TEXT: sets the archive's comment; the empty text removes it.
#include "cli/write_session.h"

namespace zipkit::cli {

void CommentCommand(WriteSession& Session) {
  Session.Kit().WriteArchiveComment(Session.Options().args[0]);
}

}  // namespace zipkit::cli
