// The launcher's manifest: the template the build writes it from, its execution level, and the check of a stamped one.
#pragma once

#include <string>

#include "PackageResources.h"
#include "Status.h"

// The template as the build reads it (resources/Setup.manifest.in), with the
// placeholder kManifestArchitecturePlaceholder where the architecture goes,
// and each launcher architecture's processorArchitecture value.
extern const char kLauncherManifestTemplate[];
extern const char kManifestArchitectureX86[];
extern const char kManifestArchitectureX64[];
constexpr char kManifestArchitecturePlaceholder[] = "@OEM_MANIFEST_ARCHITECTURE@";

// The values of requestedExecutionLevel, in rising order of rights.
enum class ExecutionLevel { kAsInvoker, kHighestAvailable, kRequireAdministrator };

// "asInvoker", "highestAvailable", "requireAdministrator".
const char* ExecutionLevelName(ExecutionLevel level);
// The level a name stands for (as written, case included); false for any other text.
bool ParseExecutionLevel(const std::string& name, ExecutionLevel* level);

// The manifest the build gives the launcher of architecture, with level in
// place of the template's (requireAdministrator).
std::string LauncherManifestText(LauncherArchitecture architecture, ExecutionLevel level);

// The level a manifest asks for: the level attribute of its one
// requestedExecutionLevel. Refused (kErrorInvalidData): no such element or
// more than one, a level that is not one of the three.
Status ReadManifestExecutionLevel(const std::string& manifest, ExecutionLevel* level);

// Changes the level attribute of the manifest's one requestedExecutionLevel
// and nothing else; ReadManifestExecutionLevel's refusals.
Status SetManifestExecutionLevel(std::string* manifest, ExecutionLevel level);

// Refuses (kErrorInvalidData, saying what differs) a manifest that is not the
// launcher's template for architecture with one of the three levels; gives
// that level.
Status CheckLauncherManifest(const std::string& manifest, LauncherArchitecture architecture, ExecutionLevel* level);
