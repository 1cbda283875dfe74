// The host services: everything the engine asks of the operating system besides streams
// (host/stream.h). One interface, two implementations chosen by the build: host/posix/ and
// host/win32/.
//
// Conventions of this interface:
// - Paths are ANSI strings with "\" between folders; the POSIX host turns "\" into "/" at the file
//   system boundary and has no drive letters.
// - Functions that can fail return false / -1 / an error code and leave the operating system's
//   code in LastError() (GetLastError on Windows, errno on POSIX); none of them raises, except
//   where noted.
// - Text: ANSI is the code page of every string of the engine; OEM is the code page of names
//   stored in archives. On Windows both are the system's (GetACP / GetOEMCP). On POSIX OEM is
//   CP437 and ANSI is UTF-8 by default, converted by our own tables; tests may select CP1252 as
//   ANSI (SetAnsiCodePage). Because CP437 <-> UTF-8 changes the byte length, the conversions
//   return a new string instead of converting in place; with single-byte pairs (Windows, or CP437
//   <-> CP1252) the result has the length of the input.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// <windows.h> defines some of the names below as macros (DeleteFile -> DeleteFileA, OemToAnsi
// -> OemToCharA, ...). Where both are seen, include <windows.h> first and call the system's
// functions by their A names; this header undoes the macros.
#ifdef _WIN32
#undef DeleteFile
#undef GetTempFileName
#undef GetDriveType
#undef SetVolumeLabel
#undef OemToAnsi
#undef AnsiToOem
#undef ReplaceFile
#endif

namespace zipkit {
class TFileStream;
}

namespace zipkit::host {

// ---- Errors ----------------------------------------------------------------------------------

// The operating system's code of the last failed call of this thread.
int32_t LastError();
// The system's text of an error code (for messages of EInOutError).
std::string SysErrorMessage(int32_t Code);

// ---- Files and folders -----------------------------------------------------------------------

// DOS attribute bits, as ZIP external attributes and file enumeration carry them.
enum : int32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeID = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faAnyFile = 0x3F,
  faSymLink = 0x400,  // reported by enumeration only: a symbolic link or reparse point
};

// True when Name is an existing file (not a folder).
bool FileExists(const std::string& Name);
// True when Name is an existing folder (a trailing "\" is accepted).
bool DirectoryExists(const std::string& Name);
bool DeleteFile(const std::string& Name);
bool RenameFile(const std::string& OldName, const std::string& NewName);
// The file a path names once symbolic links are followed (POSIX; a file that does not exist
// keeps its expanded name). Windows: ExpandFileName.
std::string RealFileName(const std::string& Name);
// Puts NewFile in Target's place in one step, so that Target is always either the old or the
// new file. NewFile takes Target's permissions (POSIX: mode bits, and owner where allowed).
// False with LastError() when it could not be done; Target is then unchanged.
bool ReplaceFile(const std::string& NewFile, const std::string& Target);

// The DOS attributes of Name, or -1 when it does not exist. POSIX: faDirectory for folders,
// faReadOnly when no write bit is set, faHidden for names beginning with ".", faArchive for
// regular files.
int32_t FileGetAttr(const std::string& Name);
// Sets the attributes. Windows applies the low 16 bits (the high ones carry the Unix mode of
// entries made on Unix); POSIX looks at read-only only: it clears the write bits, its absence
// gives the owner write permission back. Returns 0 or an error code.
int32_t FileSetAttr(const std::string& Name, int32_t Attr);
// POSIX only: applies the permission bits 0777 of Mode (never set-uid, set-gid or sticky).
// Windows has no counterpart and returns 0.
int32_t FileSetUnixMode(const std::string& Name, uint32_t Mode);

// The DOS date-time stamp (local time) of Name's last write, or -1 when it cannot be read.
int64_t FileAge(const std::string& Name);
// Sets Name's last-write time from a DOS date-time stamp taken as local time. Returns 0 or an
// error code (an invalid stamp gives a non-zero code).
int32_t FileSetDate(const std::string& Name, uint32_t DosDateTime);
// The same through an open file stream (the extraction stamps the file before closing it).
int32_t FileSetDate(TFileStream& File, uint32_t DosDateTime);

// The size of a file in bytes, or -1 when it does not exist or is 2 GiB or more.
int32_t FileSizeOf(const std::string& Name);

std::string GetCurrentDir();
bool SetCurrentDir(const std::string& Dir);
// Creates one folder (its parent must exist).
bool CreateDir(const std::string& Dir);
// Removes one empty folder.
bool RemoveDir(const std::string& Dir);

// The full path of Name expanded against the current directory, with "." and ".." resolved.
// Windows: "C:\dir\name"; POSIX: "\dir\name".
std::string ExpandFileName(const std::string& Name);

// The system's temporary folder, with a trailing "\".
std::string TempDirectory();
// A temporary file name in Dir with the given prefix (at most three characters used). With
// Create set, picks a free name and creates the empty file; without it, names the file with
// the fixed number 1 and creates nothing. Returns "" on failure.
std::string GetTempFileName(const std::string& Dir, const std::string& Prefix, bool Create);

// Drive type of a root ("C:\" on Windows), GetDriveType's values.
enum TDriveType : uint32_t {
  dtUnknown = 0,
  dtNoRootDir = 1,
  dtRemovable = 2,
  dtFixed = 3,
  dtRemote = 4,
  dtCDRom = 5,
  dtRamDisk = 6,
};
TDriveType GetDriveType(const std::string& Root);

// True when the drive holding Path is removable. Windows: the drive letter of the full path;
// POSIX has no drive letters and answers false.
bool IsRemovableDrive(const std::string& Path);
// Free bytes available on the drive holding Path, capped at 2,147,483,647; 0 when unknown.
// Windows: the drive letter of the full path (a UNC path gives 0); POSIX: the file system of
// Path or of its nearest existing parent folder.
int32_t DriveFreeBytes(const std::string& Path);

// Sets the volume label of a root ("A:\"). Returns 0 or an error code. POSIX writes no labels
// and returns 0.
int32_t SetVolumeLabel(const std::string& Root, const std::string& Label);
// The volume label of a root, "" when it has none (POSIX: always "").
std::string VolumeLabel(const std::string& Root);

// One entry of a wildcard enumeration.
struct TSearchRec {
  std::string Name;       // the entry's name, without folder
  std::string ShortName;  // its 8.3 name when the file system keeps a different one, else ""
  int32_t Attr = 0;       // DOS attributes
  int64_t Size = 0;
  uint32_t Time = 0;      // last write, DOS date-time stamp (0 when out of the DOS range)
};

// Wildcard enumeration of the entries of one folder. The mask's folder part names the folder;
// its name part holds the wildcards "*" and "?" ("*.*" matches every name; matching ignores
// ASCII letter case on Windows and is exact on POSIX). Entries with hidden, system, volume or
// directory attributes are returned only when all of those they carry are in Attr; other
// entries always qualify. "." and ".." are returned like any folder.
class TFindFiles {
 public:
  TFindFiles();
  ~TFindFiles();
  TFindFiles(const TFindFiles&) = delete;
  TFindFiles& operator=(const TFindFiles&) = delete;

  // Starts a search; false when nothing matches (or the folder cannot be read).
  bool First(const std::string& Mask, int32_t Attr, TSearchRec& Rec);
  bool Next(TSearchRec& Rec);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The wildcard test on one name, as TFindFiles applies it: "*" any run, "?" one character,
// "*.*" every name, and a final ".*" also matches a name without extension.
bool MatchesFileMask(std::string_view Name, std::string_view Mask);

// ---- DOS date-time stamps --------------------------------------------------------------------

// Components of a local time.
struct TLocalTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
// The stamp of a local time; 0 when the year is outside 1980 to 2099.
uint32_t EncodeDosDateTime(const TLocalTime& Time);
// The local time a stamp stands for; false when its fields are out of range.
bool DecodeDosDateTime(uint32_t Stamp, TLocalTime& Time);
// The current local time as a DOS stamp.
uint32_t NowDosDateTime();

// ---- Text ------------------------------------------------------------------------------------

// Code page numbers used by the host settings.
enum : uint32_t { cpOem437 = 437, cpAnsi1252 = 1252, cpUtf8 = 65001 };
uint32_t OemCodePage();
uint32_t AnsiCodePage();
// POSIX: selects the ANSI code page (cpUtf8 or cpAnsi1252; false for any other). Windows: the
// system's code page cannot change; true only when CodePage is already the ANSI one.
bool SetAnsiCodePage(uint32_t CodePage);

// OEM -> ANSI and ANSI -> OEM. A character the target cannot hold becomes "?"; AnsiToOem then
// clears *Exact when it is given (a name the OEM code page cannot hold is stored as UTF-8).
std::string OemToAnsi(std::string_view Oem);
std::string AnsiToOem(std::string_view Ansi, bool* Exact = nullptr);
// UTF-8 (names flagged as such in archives) <-> ANSI.
std::string Utf8ToAnsi(std::string_view Utf8, bool* Exact = nullptr);
std::string AnsiToUtf8(std::string_view Ansi);
// UTF-16 code units -> ANSI. An unpaired surrogate or a character ANSI cannot hold becomes "?".
std::string WideToAnsi(const char16_t* Text, int32_t Count);

// Upper and lower case for the ANSI code page; letters beyond ASCII are converted too.
std::string AnsiUpperCase(std::string_view Text);
std::string AnsiLowerCase(std::string_view Text);

// The current local date and time as text, in the host's short-date and long-time form.
std::string LocalDateTimeText();

// ---- Critical section ------------------------------------------------------------------------

// A re-entrant mutex: the holding thread may enter again; each Enter is matched by one Leave.
class TCriticalSection {
 public:
  TCriticalSection();
  ~TCriticalSection();
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter();
  void Leave();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ---- Resources -------------------------------------------------------------------------------

// A module whose resources can be searched: the program itself (MainInstance) or, on Windows,
// a loaded DLL.
using TModule = void*;
TModule MainInstance();

// Raw-data (RCDATA) resources by name; names compare ignoring ASCII letter case. The three steps
// mirror the Windows services: find gives a handle (0 when absent), load gives the loaded
// resource (0 on failure), lock its first byte (nullptr on failure).
using TResInfo = intptr_t;
using TResHandle = intptr_t;
TResInfo FindResourceData(TModule Module, const std::string& Name);
TResHandle LoadResourceData(TModule Module, TResInfo Info);
const uint8_t* LockResourceData(TResHandle Res);
int32_t SizeofResourceData(TModule Module, TResInfo Info);
void FreeResourceData(TResHandle Res);

// Adds a resource of the program at run time, searched before those built in (tests use it for
// damaged tables; the bytes must outlive their use). Data nullptr with Size 0 removes the name
// again; Data nullptr with a positive Size makes a resource that is found but fails to load.
void RegisterResource(const std::string& Name, const uint8_t* Data, int32_t Size);

// ---- Program and user ------------------------------------------------------------------------

// The full name of the program's own executable, "\" between folders (POSIX: "\usr\bin\x").
std::string ModuleFileName();
// A task-modal message with OK and Cancel and no owner window; true when the user chose OK.
// POSIX has no message boxes: it asks on the terminal when standard input is one, else the
// answer is Cancel.
bool TaskModalOkCancel(const std::string& Text, const std::string& Caption);
// Handles the window messages waiting in this thread's queue, then returns (a long task calls
// it to keep its windows painted and answering). A quit message is left for the main loop.
// POSIX has no message queue: nothing to do.
void ProcessMessages();

}  // namespace zipkit::host
