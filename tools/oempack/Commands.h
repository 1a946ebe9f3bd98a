// The packaging tool's commands; each returns the process exit status.
#pragma once

#include <string>

#include "CommandLine.h"

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int RunCreate(const Options& options);
int RunList(const Options& options);
int RunVerify(const Options& options);
int RunExtract(const Options& options);
int RunStamp(const Options& options);
int RunMake(const Options& options);

// The LANGUAGE_INI text for the given settings; with UseDefault 1 and
// 0x0404 it is the launcher's shipped 52-byte text.
std::string LanguageIniText(int useDefault, const std::string& selectLanguage);

// CONFIG.INI of a package whose installer entry is installerName.
std::string ConfigIniText(const std::string& installerName);
