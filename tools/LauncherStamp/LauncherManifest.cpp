// The launcher's manifest: its level, read and rewritten in place, and the check against the template.
#include "LauncherManifest.h"

namespace {

constexpr char kLevelElement[] = "<requestedExecutionLevel";
constexpr char kLevelAttribute[] = "level=\"";

Status Bad(const std::string& message) { return Status::Error(kErrorInvalidData, "manifest: " + message); }

// Where the level attribute's value of the one requestedExecutionLevel starts, and its length.
Status FindLevelValue(const std::string& manifest, size_t* start, size_t* length)
{
    const size_t element = manifest.find(kLevelElement);
    if (element == std::string::npos)
        return Bad("no requestedExecutionLevel");
    if (manifest.find(kLevelElement, element + 1) != std::string::npos)
        return Bad("more than one requestedExecutionLevel");
    const size_t close = manifest.find('>', element);
    const size_t attribute = manifest.find(kLevelAttribute, element);
    if (attribute == std::string::npos || attribute > close)
        return Bad("requestedExecutionLevel has no level");
    *start = attribute + sizeof kLevelAttribute - 1;
    const size_t end = manifest.find('"', *start);
    if (end == std::string::npos || end > close)
        return Bad("requestedExecutionLevel's level has no end");
    *length = end - *start;
    return Status::Ok();
}

}  // namespace

const char* ExecutionLevelName(ExecutionLevel level)
{
    switch (level) {
    case ExecutionLevel::kAsInvoker:
        return "asInvoker";
    case ExecutionLevel::kHighestAvailable:
        return "highestAvailable";
    case ExecutionLevel::kRequireAdministrator:
        break;
    }
    return "requireAdministrator";
}

bool ParseExecutionLevel(const std::string& name, ExecutionLevel* level)
{
    for (ExecutionLevel known :
         {ExecutionLevel::kAsInvoker, ExecutionLevel::kHighestAvailable, ExecutionLevel::kRequireAdministrator}) {
        if (name == ExecutionLevelName(known)) {
            *level = known;
            return true;
        }
    }
    return false;
}

std::string LauncherManifestText(LauncherArchitecture architecture, ExecutionLevel level)
{
    std::string text = kLauncherManifestTemplate;
    const size_t at = text.find(kManifestArchitecturePlaceholder);
    if (at != std::string::npos)
        text.replace(at, sizeof kManifestArchitecturePlaceholder - 1,
                     architecture == LauncherArchitecture::kX64 ? kManifestArchitectureX64 : kManifestArchitectureX86);
    // The template has its one level: the build's compile of it proves that.
    const Status set = SetManifestExecutionLevel(&text, level);
    return set ? text : std::string();
}

Status ReadManifestExecutionLevel(const std::string& manifest, ExecutionLevel* level)
{
    size_t start = 0, length = 0;
    const Status found = FindLevelValue(manifest, &start, &length);
    if (!found)
        return found;
    const std::string value = manifest.substr(start, length);
    if (!ParseExecutionLevel(value, level))
        return Bad("unknown execution level \"" + value + "\"");
    return Status::Ok();
}

Status SetManifestExecutionLevel(std::string* manifest, ExecutionLevel level)
{
    size_t start = 0, length = 0;
    const Status found = FindLevelValue(*manifest, &start, &length);
    if (found)
        manifest->replace(start, length, ExecutionLevelName(level));
    return found;
}

Status CheckLauncherManifest(const std::string& manifest, LauncherArchitecture architecture, ExecutionLevel* level)
{
    const Status read = ReadManifestExecutionLevel(manifest, level);
    if (!read)
        return read;
    const std::string expected = LauncherManifestText(architecture, *level);
    if (manifest == expected)
        return Status::Ok();
    size_t line = 1;
    size_t i = 0;
    for (; i < manifest.size() && i < expected.size() && manifest[i] == expected[i]; ++i)
        line += manifest[i] == '\n' ? 1 : 0;
    return Bad(std::string("not the ") + LauncherArchitectureName(architecture) +
               " launcher's manifest: it differs from the template at line " + std::to_string(line));
}
