// What the writing commands of the zipkit tool share: their options, the zip kit set up from
// them, failure reports, the save and the exit status.
//
//   zipkit add ARCHIVE FILE...      adds files, and folders with --recurse; a name that the
//                                   archive holds already is reported and left as it is
//   zipkit replace ARCHIVE FILE...  adds files, replacing entries of the same name
//   zipkit freshen ARCHIVE [MASK...]  compresses again the entries whose files changed
//   zipkit delete ARCHIVE MASK...
//   zipkit rename ARCHIVE OLD NEW
//   zipkit comment ARCHIVE TEXT     ("" removes the comment)
//
// Options: --level 1|3|5|9, --store, --password PW, --span SIZE (bytes, or with k or m),
// --recurse, --paths (the default: names keep their folders) or --strip-paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/progress.h"
#include "cli/write_commands.h"
#include "zipkit/zip_kit.h"

namespace zipkit::cli {

struct WriteOptions {
  std::string command;
  std::string archive;
  std::vector<std::string> args;  // files, masks, names or the comment
  int level = 5;
  bool store = false;
  std::string password;
  int32_t span = 0;
  bool recurse = false;
  bool strip_paths = false;
};

// Parses the arguments after the command; false for a usage error.
bool ParseWriteOptions(int argc, char** argv, WriteOptions& Options);

// The zip kit as the writing commands use it: each failing insertion keeps its exception's
// text for the report.
class WritingZipKit : public TAbZipKit {
 public:
  void ConfigureArchive() override;
  std::string last_failure;
};

class WriteSession {
 public:
  explicit WriteSession(const WriteOptions& Options);

  // Opens (or, for add and replace, creates) the archive, runs the command, saves.
  int Run();

  const WriteOptions& Options() const { return opts_; }
  WritingZipKit& Kit() { return kit_; }
  TAbZipArchive& Archive() { return *kit_.OpenedArchive(); }
  // Reports a failure of one name; the exit status becomes 1.
  void Fail(const std::string& Subject, const std::string& Message);
  // Counts what the archive reported so far (confirmations and failures), so that a command
  // can tell whether an argument touched anything.
  int Events() const { return events_; }

 private:
  void Error(const std::string& Subject, const std::string& Message);

  WriteOptions opts_;
  TerminalProgress progress_;
  WritingZipKit kit_;
  int failures_ = 0;
  int events_ = 0;
  const TAbArchiveItem* shown_ = nullptr;  // the entry the progress line names
};

// The commands, each in its own file. They make the changes; the session saves them.
void AddCommand(WriteSession& Session);
void ReplaceCommand(WriteSession& Session);
void FreshenCommand(WriteSession& Session);
void DeleteCommand(WriteSession& Session);
void RenameCommand(WriteSession& Session);
void CommentCommand(WriteSession& Session);
// Adds the files, folders and masks of the arguments (add, and replace with soReplace).
void AddNamedFiles(WriteSession& Session);

// A path as the engine spells it, with "\" between folders.
std::string EngineName(std::string Path);

}  // namespace zipkit::cli
