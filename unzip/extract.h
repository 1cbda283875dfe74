// The extraction driver: one ZIP item to a stream, to a file below the archive's BaseDirectory,
// or tested (local header against the central directory, then decoded into a bit bucket). The
// zip kit installs the three as the archive's hooks.
#pragma once

#include <string>

#include "host/stream.h"

namespace zipkit {

class TAbZipArchive;
class TAbZipItem;

// Decodes Item into OutStream (none: EAbBadStream) and checks its CRC-32 (EAbZipBadCRC).
void ExtractZipItemToStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream* OutStream);

// Writes Item to a file named after Name below the archive's BaseDirectory (the whole name with
// eoRestorePath, else its last part), stamped with the item's date-time and attributes. A failed
// extraction leaves no file behind.
void ExtractZipItemToFile(TAbZipArchive& Archive, TAbZipItem& Item, const std::string& Name);

// Tests Item: its local header must agree with the central directory record (EAbZipInvalidLFH),
// and it must decode with the right CRC-32.
void VerifyZipItem(TAbZipArchive& Archive, TAbZipItem& Item);

// The path below the base folder that a stored name is written to with eoRestorePath: "\"
// between parts; a drive, leading "\" and the parts "", "." and ".." (any part of dots and
// blanks only) are dropped, so the result never leaves the base folder.
std::string SafeRelativePath(const std::string& Name);

}  // namespace zipkit
