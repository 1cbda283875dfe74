// The reading commands of the zipkit tool: list, test and extract ZIP archives with the
// engine's zip kit component.
//
//   zipkit list ARCHIVE [--json]
//   zipkit test ARCHIVE [--password PW]
//   zipkit extract ARCHIVE -d DIR [--paths] [--password PW]
//
// Exit status: 0 all is well, 1 some entries failed, 2 the archive cannot be opened or the
// usage is wrong. Never prompts: a wrong or missing password fails the entry.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/read_commands.h"
#include "cli/write_commands.h"
#include "host/host.h"
#include "support/errors.h"
#include "support/file_system.h"
#include "support/numeric.h"
#include "unzip/extract.h"
#include "zipkit/zip_kit.h"

namespace zipkit::cli {

namespace {


struct Options {
  std::string command, archive, dir, password;
  bool json = false, paths = false, has_dir = false;
};

// Paths inside the engine use "\" between folders.
std::string EnginePath(std::string Path) {
  for (char& c : Path)
    if (c == '/') c = '\\';
  return Path;
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

std::string DosDateTimeText(uint16_t Date, uint16_t Time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (Date >> 9),
                (Date >> 5) & 15, Date & 31, Time >> 11, (Time >> 5) & 63, (Time & 31) * 2);
  return text;
}

// The zip kit as this tool uses it: archives are opened read-only and never created or
// written, and each failure keeps the text of its exception for the report.
class ReadingZipKit : public TAbZipKit {
 public:
  void SetFileName(const std::string& Value) override {
    TAbCustomZipBrowser::SetFileName(Value);
  }

  void ConfigureArchive() override {
    TAbZipKit::ConfigureArchive();
    TAbZipArchive* archive = OpenedArchive();
    if (!archive) return;
    auto extract = archive->ExtractHook;
    archive->ExtractHook = [this, extract](TAbZipArchive& A, TAbZipItem& I, const std::string& N) {
      try {
        extract(A, I, N);
      } catch (const std::exception& e) {
        last_failure = e.what();
        throw;
      }
    };
  }

  std::string last_failure;
};

class Tool {
 public:
  explicit Tool(const Options& Opts)
      : opts_(Opts), progress_(stderr, isatty(STDERR_FILENO) != 0) {
    kit_.SetExtractOptions(Opts.paths ? TAbExtractOptions{eoCreateDirs, eoRestorePath}
                                      : TAbExtractOptions{eoCreateDirs});
    kit_.SetPassword(Opts.password);
    kit_.ArchiveProgressMeter = &progress_.ArchiveMeter();
    kit_.ItemProgressMeter = &progress_.ItemMeter();
    // Nothing here writes an archive, and nothing asks the user.
    kit_.OnConfirmSave = [](TObject*, bool& Confirm) { Confirm = false; };
    kit_.SetOnRequestLastDisk([](TObject*, bool& Abort) { Abort = true; });
    kit_.SetOnRequestNthDisk([](TObject*, uint8_t, bool& Abort) { Abort = true; });
    kit_.SetOnRequestBlankDisk([](TObject*, bool& Abort) { Abort = true; });
    kit_.OnConfirmProcessItem = [this](TObject*, TAbArchiveItem* Item, TAbProcessType, bool&) {
      kit_.last_failure.clear();
      progress_.SetCurrent(Item->StoredName());
    };
    kit_.OnProcessItemFailure = [this](TObject*, TAbArchiveItem* Item, TAbProcessType,
                                       TAbErrorClass Class, int32_t Code) {
      ReportEntry(Item->StoredName(),
                  kit_.last_failure.empty() ? FailureText(Class, Code) : kit_.last_failure);
    };
  }

  int Run() {
    try {
      kit_.SetFileName(EnginePath(opts_.archive));
      if (!kit_.OpenedArchive()) {
        Error(opts_.archive, EngineText(25));  // File not found
        return kExitCannotOpen;
      }
    } catch (const std::exception& e) {
      Error(opts_.archive, e.what());
      return kExitCannotOpen;
    }
    if (opts_.command == "list") return List();
    if (opts_.command == "test") return Test();
    return Extract();
  }

 private:
  void Error(const std::string& Subject, const std::string& Message) {
    progress_.Clear();
    std::fprintf(stderr, "zipkit: %s: %s\n", Subject.c_str(), Message.c_str());
  }

  void ReportEntry(const std::string& Name, const std::string& Message) {
    ++failures_;
    Error(Name, Message);
  }

  int List() {
    TAbZipArchive& archive = *kit_.OpenedArchive();
    const int32_t n = archive.ItemCount();
    if (opts_.json) std::printf("[");
    else std::printf("    Length  Method      Size  CRC-32    Date       Time      Name\n");
    for (int32_t i = 0; i < n; ++i) {
      const TAbZipItem& item = *archive.ZipItem(i);
      const std::string when = DosDateTimeText(item.FileDate(), item.FileTime());
      if (opts_.json) {
        std::printf(
            "%s\n  {\"name\": %s, \"method\": %u, \"packed_size\": %u, \"unpacked_size\": %u, "
            "\"crc32\": %u, \"encrypted\": %s, \"date_time\": \"%s\"}",
            i ? "," : "", JsonString(item.StoredName()).c_str(), item.Method(),
            static_cast<uint32_t>(item.PackedSize()), static_cast<uint32_t>(item.UnpackedSize()),
            item.Checksum(), item.Encrypted() ? "true" : "false",
            when.c_str());
      } else {
        std::printf("%10u  %6u%s %9u  %08x  %s  %s\n", static_cast<uint32_t>(item.UnpackedSize()),
                    item.Method(), item.Encrypted() ? "*" : " ",
                    static_cast<uint32_t>(item.PackedSize()), item.Checksum(),
                    when.c_str(), item.StoredName().c_str());
      }
    }
    if (opts_.json) std::printf("%s]\n", n ? "\n" : "");
    return kExitOk;
  }

  int Test() {
    TAbZipArchive& archive = *kit_.OpenedArchive();
    const int32_t n = archive.ItemCount();
    for (int32_t i = 0; i < n; ++i) {
      TAbZipItem* item = archive.ZipItem(i);
      progress_.SetCurrent(item->StoredName());
      progress_.ItemMeter().ResetMeter();
      archive.CurrentItem = item;
      try {
        archive.VerifyItemAt(i);
      } catch (const std::exception& e) {
        ReportEntry(item->StoredName(), e.what());
      }
      progress_.ArchiveMeter().ShowPercent(PercentOf(i + 1, n));
    }
    progress_.Clear();
    std::printf("%d entries tested, %d failed\n", n, failures_);
    return failures_ ? kExitSomeFailed : kExitOk;
  }

  int Extract() {
    std::string base = host::ExpandFileName(EnginePath(opts_.dir));
    try {
      MakeFolderPath(base);
      kit_.SetBaseDirectory(base);
      kit_.ExtractMatching("*.*");
      ReportNameless();
      if (opts_.paths) MakeFolders(base);
    } catch (const std::exception& e) {
      Error(opts_.dir, e.what());
      return kExitCannotOpen;
    }
    return failures_ ? kExitSomeFailed : kExitOk;
  }

  // "*.*" passes over entries without a file part. Folder entries are meant to be passed over;
  // any other such entry cannot be written and counts as failed.
  void ReportNameless() {
    TAbZipArchive& archive = *kit_.OpenedArchive();
    for (int32_t i = 0; i < archive.ItemCount(); ++i) {
      const TAbZipItem& item = *archive.ZipItem(i);
      const std::string name = item.StoredName();
      if (IsFolderEntry(name) || item.MatchesMask("*.*")) continue;
      ReportEntry(name.empty() ? "entry " + std::to_string(i + 1) : name, "The entry has no file name");
    }
  }

  static bool IsFolderEntry(const std::string& Name) {
    return !Name.empty() && (Name.back() == '/' || Name.back() == '\\');
  }

  // Folder entries make their (possibly empty) folders, below the target only.
  void MakeFolders(const std::string& Base) {
    TAbZipArchive& archive = *kit_.OpenedArchive();
    for (int32_t i = 0; i < archive.ItemCount(); ++i) {
      const std::string name = archive.ZipItem(i)->StoredName();
      if (!IsFolderEntry(name)) continue;
      const std::string rel = SafeRelativePath(name);
      if (rel.empty()) continue;
      try {
        MakeFolderPath(Base + "\\" + rel);
      } catch (const std::exception& e) {
        ReportEntry(name, e.what());
      }
    }
  }

  Options opts_;
  TerminalProgress progress_;
  ReadingZipKit kit_;
  int failures_ = 0;
};

// Fills Opts from the command line; returns what is wrong with it, or "".
std::string Parse(int argc, char** argv, Options& Opts) {
  if (argc < 2) return "no command";
  Opts.command = argv[1];
  if (Opts.command != "list" && Opts.command != "test" && Opts.command != "extract")
    return "unknown command " + Opts.command;
  std::vector<std::string> args(argv + 2, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--json" && Opts.command == "list") {
      Opts.json = true;
    } else if (a == "--paths" && Opts.command == "extract") {
      Opts.paths = true;
    } else if (a == "--password" && Opts.command != "list") {
      if (!has_value) return "--password needs a value";
      Opts.password = args[++i];
    } else if (a == "-d" && Opts.command == "extract") {
      if (!has_value) return "-d needs a folder";
      Opts.dir = args[++i];
      Opts.has_dir = true;
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a + " for " + Opts.command;
    } else if (Opts.archive.empty()) {
      Opts.archive = a;
    } else {
      return "unexpected argument " + a;
    }
  }
  if (Opts.archive.empty()) return "no archive given";
  if (Opts.command == "extract" && (!Opts.has_dir || Opts.dir.empty()))
    return "extract needs -d DIR";
  return "";
}

}  // namespace

const char kReadUsage[] =
    "usage: zipkit list ARCHIVE [--json]\n"
    "       zipkit test ARCHIVE [--password PW]\n"
    "       zipkit extract ARCHIVE -d DIR [--paths] [--password PW]\n";

int RunReadCommand(int argc, char** argv) {
  Options opts;
  const std::string problem = Parse(argc, argv, opts);
  if (!problem.empty()) {
    std::fprintf(stderr, "zipkit: %s\n%s%s", problem.c_str(), kReadUsage, kWriteUsage);
    return kExitCannotOpen;
  }
  try {
    return Tool(opts).Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zipkit: %s\n", e.what());
    return kExitCannotOpen;
  }
}

}  // namespace zipkit::cli
