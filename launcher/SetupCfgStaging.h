// Copies the support files that Setup.cfg beside the launcher names into the work folder.
#pragma once

#include "CString.h"

// The support-file list beside the launcher, and its copy in the work folder.
constexpr char kSetupCfgName[] = "Setup.cfg";

// Stages the sections "Startup", "ADDREG", "ADDREG32", "ADDREG64", "HELP",
// "COPYTO", "COPYTO32", "COPYTO64", "INSTALLEXE", "RECOPYTO" and
// "SupportFiles" of cfgPath, in that order, then copies cfgPath itself to
// "<workFolder>\Setup.cfg" (replacing a file there). Reports nothing: files
// that cannot be copied are passed over.
void StageSupportFiles(const CString& cfgPath, const CString& workFolder, const CString& launcherFolder);

// Stages one section of cfgPath. Each "key=value" line (a line without "="
// is all value) whose value, trimmed of blanks and semicolons, is a relative
// path names the file "<launcher folder>\<value>", copied to
// "<workFolder>\<value>" with its folders created. The launcher folder is the
// folder of the running executable; launcherFolder names the same folder and
// is not otherwise used. Skipped lines: keys with ".OBJ" or ".PARAM" after
// their first character (any case); empty values; drive ("X:...") and network
// ("\\...") paths; values with a ".." component, which would reach outside
// either folder; values whose source or destination path would not fit 260
// bytes. The section is read into 8192 bytes: a longer one is cut off.
void StageSection(const char* section, const CString& cfgPath, const CString& launcherFolder,
                  const CString& workFolder);
