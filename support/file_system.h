// Folder creation, temporary names, drive queries and file enumeration for the archive engine,
// over the host services.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipkit {

class TFileStream;

// Makes Folder the current directory for the lifetime of the object and restores the previous
// one on every way out; an empty Folder changes nothing. Raises EInOutError when Folder cannot
// be made current.
class TCurrentDirScope {
 public:
  explicit TCurrentDirScope(const std::string& Folder);
  ~TCurrentDirScope();
  TCurrentDirScope(const TCurrentDirScope&) = delete;
  TCurrentDirScope& operator=(const TCurrentDirScope&) = delete;

 private:
  std::string saved_;
  bool changed_ = false;
};

// True when Name, which holds no wildcard, is an existing folder (a trailing "\" is accepted).
bool FolderExists(const std::string& Name);

// Creates every missing folder of an absolute folder path, from the root down. Raises
// EInOutError with the system's error code when one cannot be created; folders already made
// stay.
void MakeFolderPath(const std::string& Path);

// A temporary file name with the prefix "VMS" in Folder when that is an existing folder, else
// in the system's temporary folder. With Create set the empty file is made and belongs to the
// caller; without it nothing is created (the name only tells the folder). "" on failure.
std::string TempFileName(const std::string& Folder, bool Create);
// TempFileName with the file created.
std::string NewTempFile(const std::string& Folder);

// True when Path lies on a removable drive.
bool IsRemovableDrive(const std::string& Path);
// Free bytes on the drive of Path, capped at 2,147,483,647.
int32_t DriveFreeBytes(const std::string& Path);

// Appends to List the files matching Mask whose hidden, system, volume and directory attributes
// are all within Attributes, each prefixed with the mask's folder part; with Recurse, then those
// of every subfolder, depth first.
void CollectFiles(const std::string& Mask, int32_t Attributes, std::vector<std::string>& List,
                  bool Recurse);

// Cuts the file at Position; the outcome is ignored.
void TruncateFileAt(TFileStream& Stream, int32_t Position);

// Sets the volume label of Drive's root ("A:\") to the first 11 characters of Label. Returns 0
// or the system's error code.
int32_t WriteDiskLabel(const std::string& Label, char Drive);

}  // namespace zipkit
