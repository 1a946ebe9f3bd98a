// Renders a package listing as a table for people or as JSON for programs.
#pragma once

#include <functional>
#include <string>

#include "LauncherBranding.h"
#include "PackageListing.h"
#include "SystemApi.h"

// "YYYY-MM-DD HH:MM:SS" in UTC; "-" for a zero time.
std::string FormatFileTime(const FileTime& time);

// Attribute bits as letters: R (read-only), H (hidden), S (system),
// A (archive), '-' for each clear bit.
std::string FormatAttributes(uint32_t attributes);

// The listing of the package at path as a table. architecture: that of the
// stamped program the package was read from ("x86", "x64" or the machine in
// hexadecimal), fileVersion: that program's file version ("none" without
// one), each shown on a line of its own; both empty for a package file.
// identity: the program's identity (its version strings, versions, execution
// level, icon sizes and progress text), each on a line of its own; null for a
// package file.
std::string FormatListingText(const PackageListing& listing, const std::string& path,
                              const std::string& architecture, const std::string& fileVersion,
                              const LauncherIdentity* identity = nullptr);

// One JSON object; names are passed through toUtf8 (from the ANSI code page)
// and escaped. "architecture" and "fileVersion" follow the groups: as in
// FormatListingText, or null for a package file; then "identity", an object
// of the identity (null without one): "strings" (the version block's, an
// object in their order), "fileVersion", "productVersion", "executionLevel",
// "iconSizes" (an array) and "progressText".
std::string FormatListingJson(const PackageListing& listing, const std::string& path,
                              const std::string& architecture, const std::string& fileVersion,
                              const std::function<std::string(const std::string&)>& toUtf8,
                              const LauncherIdentity* identity = nullptr);

// A JSON string literal of UTF-8 text: quotes, backslashes and control
// characters escaped; bytes that are not valid UTF-8 become U+FFFD.
std::string JsonString(const std::string& utf8);
