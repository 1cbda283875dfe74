// Splitting and rewriting paths. Paths use "\" between folders; the folder part of a path is
// everything through its last "\" or ":", the name part everything after (a "/" is not a
// separator here). Positions in descriptions count from 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zipkit {

enum PathKind : uint8_t { pkBareName = 0, pkRelative = 1, pkAbsolute = 2 };

// The folder part (with its trailing "\" or ":") and the name part of Path.
std::string FolderPart(std::string_view Path);
std::string NamePart(std::string_view Path);

// The number of characters before the Nth backslash of S (N >= 1); its length when S holds
// fewer than N backslashes.
int32_t BackslashPrefixLength(std::string_view S, int32_t N);

// pkAbsolute when Path holds "\\" or ":" anywhere; pkRelative when it holds "\" or "/";
// else pkBareName.
PathKind ClassifyPath(std::string_view Path);

// Splits Path into its drive ("C:" or "\\server\share"), folder (with trailing "\", without a
// leading one after a drive letter) and name. Forward slashes are taken as backslashes.
void SplitPath(std::string_view Path, std::string& Drive, std::string& Folder, std::string& Name);

// Appends the components of Folder to List: "a\b\c\" gives "a", "b", "c"; a leading "\" gives
// an empty first component; an empty folder gives none.
void SplitFolders(std::string_view Folder, std::vector<std::string>& List);

// Removes every leading "..\".
void DropLeadingParents(std::string& Path);
// Removes the drive part (forward slashes come out as backslashes).
void DropDrive(std::string& Path);
// Every "/" becomes "\".
void ToBackslashes(std::string& S);

// Puts the two-digit image number Disk mod 100 into the extension of Name: 'archive.zip' with
// disk 1 gives 'archive.z01', 'archive' with disk 3 gives 'archive.03'.
void SetSpanExtension(std::string& Name, uint16_t Disk);

// An existing absolute file path spelled with the short (8.3) name of every component, or its
// own name where it has none. Raises EAbException "Path not found" for a missing folder and
// EAbFileNotFound for a missing file.
std::string ShortPathName(const std::string& Path);

}  // namespace zipkit
