// What the program shows outside the install window: its title, the refusal of a second copy
// and the box for an exception that escaped a handler.
#pragma once

#include <string>

namespace zipkit {

// The named mutex that marks a running copy.
inline constexpr char kInstanceMutexName[] = "BRANWIKInstall";
// The "already exists" error that CreateMutex leaves when another copy holds the mutex.
inline constexpr unsigned long kErrorAlreadyExists = 183;

// Shown to a second copy: Windows-1252 text, two bare carriage returns between the languages.
inline constexpr char kRefusalMessage[] =
    "Installation l\xE4uft bereits! Bitte warten... \r\r"
    "Application already running! Please wait...";

// The application title from the program's file name (already in the ANSI code page): no
// folder, cut at its first ".", every character after the first through LowerCase.
std::string ApplicationTitle(const std::string& ModulePath,
                             std::string (*LowerCase)(const std::string&));

// The text of the error box for an exception message: a "." is appended when the last
// character sorts after ".".
std::string ExceptionBoxText(const std::string& Message);

}  // namespace zipkit
