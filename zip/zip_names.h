// The name bytes of new and renamed entries.
#pragma once

#include <string>

#include "zip/zip_item.h"

namespace zipkit {

// Stores AnsiName (a name with "/" between folders, in the ANSI code page) as the item's name:
// in the OEM code page when that holds every character of it, otherwise as UTF-8 with general
// purpose bit 11 set, so that no character is lost. The flag is set before the name, so that
// the owning list files the item under the name it presents.
void SetZipItemName(TAbZipItem& Item, const std::string& AnsiName);

}  // namespace zipkit
