// Chooses the launcher of stamp and make: --launcher, or the first of the installed layout, the build tree and oempack's own folder.
#include "LauncherSearch.h"

#include "Console.h"
#include "LauncherStamp.h"
#include "SystemApi.h"
#include "ToolFiles.h"

// Recorded by CMake at configure time: each Windows build folder relative to
// the folder oempack is built into, or "" for none.
#ifndef OEM_LAUNCHER_BUILD_X86
#define OEM_LAUNCHER_BUILD_X86 ""
#endif
#ifndef OEM_LAUNCHER_BUILD_X64
#define OEM_LAUNCHER_BUILD_X64 ""
#endif

namespace {

constexpr char kLauncherName[] = "Setup.exe";

bool IsSeparator(char c)
{
    return c == '/' || c == kPathSeparator;
}

// The length of an absolute path's root: "/" here; "X:\", "X:", "\" or "\\" on Windows. 0 for a relative path.
size_t RootLength(const std::string& path)
{
    if (kPathSeparator == '\\' && path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))
        return 2;  // a UNC path: \\server\share\...
    size_t at = 0;
    if (kPathSeparator == '\\' && path.size() >= 2 && path[1] == ':')
        at = 2;
    if (at < path.size() && IsSeparator(path[at]))
        ++at;
    return at;
}

// The parts of path after its root, split at separators that are not the
// second byte of a double-byte character.
std::vector<std::string> PathParts(const std::string& path, size_t from)
{
    std::vector<std::string> parts(1);
    for (size_t i = from; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsLeadByte(c) && i + 1 < path.size()) {
            parts.back() += path.substr(i, 2);
            ++i;
        } else if (IsSeparator(path[i])) {
            parts.emplace_back();
        } else {
            parts.back() += path[i];
        }
    }
    return parts;
}

bool IsFile(const std::string& path)
{
    bool isFolder = false;
    uint64_t size = 0;
    return QueryPath(path, &isFolder, &size) && !isFolder;
}

// The launcher at path and its architecture, read from its headers.
Status ReadArchitecture(const std::string& path, LauncherArchitecture* architecture)
{
    const Status read = ReadLauncherArchitecture(path.c_str(), architecture);
    return read ? read : LauncherFailure(path, read);
}

// True when the program runs from the folder CMake built it in (CMake keeps its
// own files there): only then do the recorded build folders lead anywhere. An
// installed or copied program leaves them out of its search and its messages.
bool RunsFromItsBuildFolder(const std::string& programFolder)
{
    bool isFolder = false;
    uint64_t size = 0;
    return QueryPath(JoinPath(programFolder, "CMakeFiles"), &isFolder, &size) && isFolder;
}

std::string ListOfPlaces(const std::vector<std::string>& places)
{
    std::string text;
    for (const std::string& place : places)
        text += (text.empty() ? "" : ", ") + place;
    return text;
}

}  // namespace

std::string RecordedBuildFolder(LauncherArchitecture architecture)
{
    return architecture == LauncherArchitecture::kX64 ? OEM_LAUNCHER_BUILD_X64 : OEM_LAUNCHER_BUILD_X86;
}

std::string NormalizePath(const std::string& path)
{
    const size_t root = RootLength(path);
    std::string result = path.substr(0, root);
    for (char& c : result)
        if (IsSeparator(c))
            c = kPathSeparator;
    std::vector<std::string> kept;
    for (const std::string& part : PathParts(path, root)) {
        if (part.empty() || part == ".")
            continue;
        if (part == ".." && !kept.empty() && kept.back() != "..")
            kept.pop_back();
        else if (part != ".." || root == 0)
            kept.push_back(part);
    }
    for (size_t i = 0; i < kept.size(); ++i)
        result += (i == 0 ? "" : std::string(1, kPathSeparator)) + kept[i];
    return result.empty() ? std::string(".") : result;
}

std::vector<std::string> LauncherPlaces(const std::string& programFolder, const std::string& buildFolder,
                                        LauncherArchitecture architecture)
{
    const std::string arch = LauncherArchitectureName(architecture);
    std::vector<std::string> places;
    places.push_back(
        NormalizePath(JoinPath(programFolder, "../share/oempack/launchers/" + arch + "/" + kLauncherName)));
    if (!buildFolder.empty()) {
        const std::string folder = RootLength(buildFolder) != 0 ? buildFolder : JoinPath(programFolder, buildFolder);
        places.push_back(NormalizePath(JoinPath(folder, std::string("launcher/") + kLauncherName)));
    }
    if (architecture == LauncherArchitecture::kX86)
        places.push_back(NormalizePath(JoinPath(programFolder, kLauncherName)));
    return places;
}

Status ChooseLauncher(const Options& options, ChosenLauncher* chosen)
{
    const std::string asked = LauncherArchitectureName(options.arch);
    if (!options.launcher.empty()) {
        chosen->path = options.launcher;
        const Status read = ReadArchitecture(chosen->path, &chosen->architecture);
        if (!read || !options.archGiven || chosen->architecture == options.arch)
            return read;
        return Status::Error(kErrorExeMachineTypeMismatch,
                             chosen->path + ": an " + LauncherArchitectureName(chosen->architecture) +
                                 " launcher, but --arch asks for " + asked);
    }
    const std::string programFolder = ProgramFolder();
    const std::vector<std::string> places = LauncherPlaces(
        programFolder, RunsFromItsBuildFolder(programFolder) ? RecordedBuildFolder(options.arch) : "", options.arch);
    for (const std::string& place : places) {
        if (!IsFile(place))
            continue;
        chosen->path = place;
        const Status read = ReadArchitecture(place, &chosen->architecture);
        if (!read || chosen->architecture == options.arch)
            return read;
        return Status::Error(kErrorExeMachineTypeMismatch,
                             place + ": an " + LauncherArchitectureName(chosen->architecture) +
                                 " launcher, found where the " + asked + " launcher was looked for; choose --arch " +
                                 LauncherArchitectureName(chosen->architecture) + " or name one with --launcher");
    }
    return Status::Error(kErrorFileNotFound, "no " + asked + " launcher found; looked in: " + ListOfPlaces(places) +
                                                 "; name one with --launcher");
}

std::string ProgramFaultDetail(const std::string& path, const Status& failure)
{
    std::string detail = failure.Message();
    for (const std::string& said : {path + ": ", std::string("not a Windows program: ")})
        if (detail.compare(0, said.size(), said) == 0)
            detail.erase(0, said.size());
    return detail;
}

Status LauncherFailure(const std::string& path, const Status& failure)
{
    const uint32_t code = failure.Code();
    if (code != kErrorBadExeFormat && code != kErrorExeMachineTypeMismatch)
        return SystemFailure(code, "cannot read the launcher " + path);
    const std::string detail = ProgramFaultDetail(path, failure);
    const std::string verdict = code == kErrorBadExeFormat
                                    ? "not a Windows program" + (detail.empty() ? "" : " (" + detail + ")")
                                    : detail;
    return Status::Error(code, path + ": " + verdict + "; the launcher must be the built Setup.exe");
}
