// What make and stamp check in the installer and the language settings before anything is written.
#pragma once

#include <cstdint>
#include <string>

#include "PackageResources.h"
#include "Status.h"

// Refuses (kErrorBadExeFormat) an installer that is not a program Windows can
// start: "<path> is not a Windows program (<what is wrong>)" for a file
// without the MZ or PE signature, with headers cut short or inconsistent, a
// DLL or an image not marked executable. A file that cannot be read fails
// with its own code. On success *machine is the program's Machine field.
Status CheckInstallerProgram(const std::string& path, uint16_t* machine);

// One line for an installer of machine that will not start everywhere a
// launcher of that architecture does (an x64 installer in an x86 launcher;
// ARM64 or any other machine than x86 and x64 in either); "" otherwise.
std::string InstallerMachineWarning(const std::string& path, uint16_t machine, LauncherArchitecture launcher);

// [LANGUAGE] UseDefault and SelectLanguage as the launcher reads them from
// Language.ini: sections and keys match without regard to case, the first
// occurrence counts, values are trimmed of blanks and of one pair of
// enclosing quotes. UseDefault is its leading decimal number (1 when the key
// is missing, 0 when it does not start with one).
struct LanguageIniValues {
    long long useDefault = 1;
    std::string selectLanguage;
};
LanguageIniValues ReadLanguageIniText(const std::string& text);

// One line for language settings (from path) whose SelectLanguage the launcher
// passes after "/L" (UseDefault 0 or below) but that is not a language
// identifier (IsValidLanguageCode): it reaches the installer's command line as
// written. "" otherwise.
std::string SelectLanguageWarning(const std::string& path, const std::string& languageIni);
