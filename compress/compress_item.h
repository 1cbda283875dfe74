// The compressor's entry procedures, installed as the ZIP archive's insert hooks: each prepares
// a new entry's TAbZipItem and writes the entry's data (with its encryption header when the
// archive has a password) to the target through a TAbZipHelper.
#pragma once

#include "host/stream.h"
#include "zip/zip_archive.h"
#include "zip/zip_item.h"

namespace zipkit {

// From the item's disk file (DiskName, in the ANSI code page as every disk name of the engine,
// relative to the archive's BaseDirectory): its attributes, size and date-time go to the item. The file's open error
// passes on.
void CompressFileToItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Target);

// From Source, from its beginning. A source that is not a file gets the current time, no
// attributes and its size. Afterwards the item describes the entry (method, sizes, CRC-32,
// flags, versions, text attribute) and holds no decoder.
void CompressStreamToItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& Target, TStream& Source);

}  // namespace zipkit
