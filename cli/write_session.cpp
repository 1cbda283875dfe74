#include "cli/write_session.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "host/host.h"
#include "support/errors.h"

namespace zipkit::cli {

const char kWriteUsage[] =
    "       zipkit add ARCHIVE FILE... [--recurse] [--paths | --strip-paths] [--level 1|3|5|9]\n"
    "                  [--store] [--password PW] [--span SIZE]\n"
    "       zipkit replace ARCHIVE FILE... (options as for add)\n"
    "       zipkit freshen ARCHIVE [MASK...] [--level 1|3|5|9] [--store] [--password PW]\n"
    "       zipkit delete ARCHIVE MASK...\n"
    "       zipkit rename ARCHIVE OLD NEW\n"
    "       zipkit comment ARCHIVE TEXT\n";

namespace {

struct CommandEntry {
  const char* name;
  void (*run)(WriteSession&);
  size_t min_args, max_args;
};

const CommandEntry kCommands[] = {
    {"add", AddCommand, 1, SIZE_MAX},         {"replace", ReplaceCommand, 1, SIZE_MAX},
    {"freshen", FreshenCommand, 0, SIZE_MAX}, {"delete", DeleteCommand, 1, SIZE_MAX},
    {"rename", RenameCommand, 2, 2},          {"comment", CommentCommand, 1, 1},
};

const CommandEntry* FindCommand(const std::string& Name) {
  for (const auto& c : kCommands)
    if (Name == c.name) return &c;
  return nullptr;
}

// A size in bytes, or in KiB / MiB with the suffix k or m; 0 when it is not one.
int32_t ParseSize(const std::string& Text) {
  char* end = nullptr;
  const long long n = std::strtoll(Text.c_str(), &end, 10);
  if (end == Text.c_str() || n <= 0) return 0;
  long long scale = 1;
  const std::string suffix = end;
  if (suffix == "k" || suffix == "K") scale = 1024;
  else if (suffix == "m" || suffix == "M") scale = 1024 * 1024;
  else if (!suffix.empty()) return 0;
  if (n > INT32_MAX / scale) return 0;
  return static_cast<int32_t>(n * scale);
}

TAbZipDeflationOption OptionForLevel(int Level) {
  switch (Level) {
    case 1: return doSuperFast;
    case 3: return doFast;
    case 9: return doMaximum;
    default: return doNormal;
  }
}

// The text for a failure reported by class and code only.
std::string FailureText(TAbErrorClass Class, int32_t Code) {
  switch (Class) {
    case ecArchiveFault: return EngineText(Code);
    case ecIoFault: return host::SysErrorMessage(Code);
    case ecFilerFault: return "Stream read or write error";
    case ecCreateFault: return "Cannot create file";
    case ecOpenFault: return "Cannot open file";
    default: return "Unexpected error";
  }
}

}  // namespace

std::string EngineName(std::string Path) {
  for (char& c : Path)
    if (c == '/') c = '\\';
  return Path;
}

bool IsWriteCommand(const std::string& Command) { return FindCommand(Command) != nullptr; }

bool ParseWriteOptions(int argc, char** argv, WriteOptions& Options) {
  if (argc < 3) return false;
  Options.command = argv[1];
  const CommandEntry* command = FindCommand(Options.command);
  if (!command) return false;
  bool positional_only = false;
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& Into) {
      if (i + 1 >= argc) return false;
      Into = argv[++i];
      return true;
    };
    std::string v;
    if (positional_only || a.empty() || a[0] != '-' || a == "-") {
      positional.push_back(a);
    } else if (a == "--") {
      positional_only = true;
    } else if (a == "--level") {
      if (!value(v) || (v != "1" && v != "3" && v != "5" && v != "9")) return false;
      Options.level = v[0] - '0';
    } else if (a == "--store") {
      Options.store = true;
    } else if (a == "--password") {
      if (!value(Options.password)) return false;
    } else if (a == "--span") {
      if (!value(v) || (Options.span = ParseSize(v)) == 0) return false;
    } else if (a == "--recurse") {
      Options.recurse = true;
    } else if (a == "--paths") {
      Options.strip_paths = false;
    } else if (a == "--strip-paths") {
      Options.strip_paths = true;
    } else {
      return false;
    }
  }
  if (positional.empty()) return false;
  Options.archive = positional.front();
  Options.args.assign(positional.begin() + 1, positional.end());
  return Options.args.size() >= command->min_args && Options.args.size() <= command->max_args;
}

void WritingZipKit::ConfigureArchive() {
  TAbZipKit::ConfigureArchive();
  TAbZipArchive* archive = OpenedArchive();
  if (!archive) return;
  auto insert = archive->InsertHook;
  archive->InsertHook = [this, insert](TAbZipArchive& A, TAbZipItem& I, TStream& Out) {
    try {
      if (!insert) throw EAbZipNoInsertion();
      insert(A, I, Out);
    } catch (const std::exception& e) {
      last_failure = e.what();
      throw;
    }
  };
}

WriteSession::WriteSession(const WriteOptions& Options)
    : opts_(Options), progress_(stderr, isatty(STDERR_FILENO) != 0) {
  TAbStoreOptions store{soStripDrive, soRemoveDots};
  if (opts_.recurse) store.Include(soRecurse);
  if (opts_.strip_paths) store.Include(soStripPath);
  kit_.SetStoreOptions(store);
  kit_.SetCompressionMethodToUse(opts_.store ? smStored : smBestMethod);
  kit_.SetDeflationOption(OptionForLevel(opts_.level));
  kit_.SetPassword(opts_.password);
  kit_.SetSpanningThreshold(opts_.span);
  kit_.ArchiveProgressMeter = &progress_.ArchiveMeter();
  kit_.ItemProgressMeter = &progress_.ItemMeter();
  // Nothing here asks the user: a set on removable disks cannot be written from the tool.
  kit_.SetOnRequestLastDisk([](TObject*, bool& Abort) { Abort = true; });
  kit_.SetOnRequestNthDisk([](TObject*, uint8_t, bool& Abort) { Abort = true; });
  kit_.SetOnRequestBlankDisk([](TObject*, bool& Abort) { Abort = true; });
  kit_.OnConfirmProcessItem = [this](TObject*, TAbArchiveItem* Item, TAbProcessType, bool&) {
    ++events_;
    kit_.last_failure.clear();
    progress_.SetCurrent(Item->StoredName());
  };
  kit_.OnArchiveItemProgress = [this](TObject*, TAbArchiveItem* Item, uint8_t, bool&) {
    if (Item != shown_) {
      shown_ = Item;
      if (Item) progress_.SetCurrent(Item->StoredName());
    }
  };
  kit_.OnProcessItemFailure = [this](TObject*, TAbArchiveItem* Item, TAbProcessType,
                                     TAbErrorClass Class, int32_t Code) {
    ++events_;
    Fail(Item->StoredName(), kit_.last_failure.empty() ? FailureText(Class, Code) : kit_.last_failure);
    kit_.last_failure.clear();
  };
}

void WriteSession::Error(const std::string& Subject, const std::string& Message) {
  progress_.Clear();
  std::fprintf(stderr, "zipkit: %s: %s\n", Subject.c_str(), Message.c_str());
}

void WriteSession::Fail(const std::string& Subject, const std::string& Message) {
  ++failures_;
  Error(Subject, Message);
}

int WriteSession::Run() {
  const CommandEntry* command = FindCommand(opts_.command);
  const std::string name = EngineName(opts_.archive);
  const bool creates = opts_.command == "add" || opts_.command == "replace";
  const bool existed = host::FileExists(name);
  if (!existed && !creates) {
    Error(opts_.archive, EngineText(25));  // File not found
    return kExitCannotOpen;
  }
  try {
    kit_.SetFileName(name);
    if (!kit_.OpenedArchive()) throw EAbNoArchive();
  } catch (const std::exception& e) {
    Error(opts_.archive, e.what());
    return kExitCannotOpen;
  }

  TAbZipArchive& archive = Archive();
  try {
    command->run(*this);
    if (!existed && archive.ItemCount() == 0) {
      // Nothing to add: no archive is left behind.
      kit_.OnConfirmSave = [](TObject*, bool& Confirm) { Confirm = false; };
      kit_.CloseFile();
      host::DeleteFile(name);
      Error(opts_.archive, "nothing to add");
      return kExitSomeFailed;
    }
    kit_.Save();
  } catch (const std::exception& e) {
    // The archive file is as it was; the changes are dropped with the zip kit.
    Error(opts_.archive, e.what());
    return kExitCannotOpen;
  }
  progress_.Clear();
  kit_.CloseFile();
  return failures_ ? kExitSomeFailed : kExitOk;
}

int RunWriteCommand(int argc, char** argv) {
  WriteOptions options;
  if (!ParseWriteOptions(argc, argv, options)) {
    std::fputs("usage: zipkit COMMAND ARCHIVE ...\n", stderr);
    std::fputs(kWriteUsage, stderr);
    return kExitCannotOpen;
  }
  try {
    return WriteSession(options).Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zipkit: %s\n", e.what());
    return kExitCannotOpen;
  }
}

}  // namespace zipkit::cli
