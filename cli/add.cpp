// zipkit add ARCHIVE FILE...: files as they are named, folders (with --recurse their trees),
// and wildcard masks. A name the archive holds already is reported (code 7) and kept.
#include "cli/write_session.h"
#include "host/host.h"

namespace zipkit::cli {

namespace {

constexpr int32_t kFilesOnly = 0x2F;  // every attribute but faDirectory

bool HasWildcard(const std::string& Name) { return Name.find_first_of("*?") != std::string::npos; }

// Adds with soRecurse as given, then puts the archive's options back.
void AddWith(WriteSession& Session, const std::string& Mask, int32_t Attributes, bool Recurse) {
  TAbZipArchive& archive = Session.Archive();
  const TAbStoreOptions saved = archive.StoreOptions;
  if (Recurse) archive.StoreOptions.Include(soRecurse);
  else archive.StoreOptions.Exclude(soRecurse);
  try {
    Session.Kit().AddFiles(Mask, Attributes);
  } catch (...) {
    archive.StoreOptions = saved;
    throw;
  }
  archive.StoreOptions = saved;
}

}  // namespace

// Shared with replace, which differs only in soReplace.
void AddNamedFiles(WriteSession& Session) {
  const bool recurse = Session.Options().recurse;
  for (const std::string& arg : Session.Options().args) {
    std::string name = EngineName(arg);
    while (name.size() > 1 && name.back() == '\\') name.pop_back();
    // "." and ".\x" name the current folder, which stored names leave out.
    while (name.rfind(".\\", 0) == 0) name.erase(0, 2);
    const int before = Session.Events();
    const int32_t items = Session.Archive().ItemCount();
    const int32_t attr = HasWildcard(name) ? -1 : host::FileGetAttr(name);
    if (HasWildcard(name)) {
      AddWith(Session, name, recurse ? host::faAnyFile : kFilesOnly, recurse);
    } else if (name == ".") {
      if (recurse) AddWith(Session, "*", host::faAnyFile, true);
    } else if (attr != -1 && (attr & host::faDirectory) != 0) {
      AddWith(Session, name, host::faAnyFile, false);  // the folder's own entry
      if (recurse) AddWith(Session, name + "\\*", host::faAnyFile, true);
    } else if (attr != -1) {
      AddWith(Session, name, kFilesOnly, false);
    }
    if (Session.Events() == before && Session.Archive().ItemCount() == items)
      Session.Fail(arg, attr == -1 && !HasWildcard(name) ? "No such file or directory" : "name not matched");
  }
}

void AddCommand(WriteSession& Session) { AddNamedFiles(Session); }

}  // namespace zipkit::cli
