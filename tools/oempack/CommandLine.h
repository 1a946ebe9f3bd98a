// Command-line grammar of the packaging tool: commands, options and their checks.
#pragma once

#include <string>
#include <vector>

#include "LauncherBranding.h"
#include "PackageResources.h"
#include "Status.h"

enum class Command { kHelp, kVersion, kCreate, kList, kVerify, kExtract, kStamp, kMake };

// One file to pack and the group it goes to.
struct FileArgument {
    std::string group;
    std::string path;
};

struct Options {
    Command command = Command::kHelp;

    // create: the output package; list, verify, extract: the package read.
    std::string package;
    // create: files in command-line order with their groups (kCommonFilesGroup
    // until a --group names another); folders whose subfolders become groups.
    std::vector<FileArgument> files;
    std::vector<std::string> fromDirectories;
    bool compress = false;
    // create and make: the value of -j as given; checked by the command.
    std::string jobs;
    bool jobsGiven = false;

    // list
    bool json = false;

    // extract
    std::string extractGroup;
    std::vector<std::string> extractEntries;
    std::string destination;
    int overwriteMode = 0;

    // stamp and make: the launcher named by --launcher (empty: looked for,
    // see ChooseLauncher) and the architecture --arch asks for.
    std::string launcher;
    LauncherArchitecture arch = LauncherArchitecture::kX86;
    bool archGiven = false;
    std::string packagePath;
    std::string languageIni;
    std::string output;
    std::string installer;
    std::string payload;
    int useDefaultLanguage = 1;
    std::string selectLanguage = "0x0404";

    // stamp and make: the vendor's identity (--product-name ... --progress-text);
    // the icon is named here (branding.iconPath) and read by the command.
    LauncherBranding branding;

    // Progress bar on a terminal; --no-progress turns it off.
    bool progress = true;
};

// Parses the arguments after the program name into options. A failure
// (ERROR_INVALID_PARAMETER) carries a one-line reason; the caller prints it
// and the usage hint. utf8Arguments, when not null, are the same arguments as
// UTF-8 (the Windows build reads paths in the ANSI code page): the text of the
// identity options comes from them.
Status ParseCommandLine(const std::vector<std::string>& arguments, Options* options,
                        const std::vector<std::string>* utf8Arguments = nullptr);

// Overwrite mode from its name or number: always, newer-time, newer-version,
// version-then-time, or 0..3. -1 for anything else.
int ParseOverwriteMode(const std::string& text);

// The architecture a name given to --arch stands for ("x86" or "x64", as
// written); false for any other text.
bool ParseArchitecture(const std::string& name, LauncherArchitecture* architecture);

// Largest Windows language identifier (LANGID, 16 bits).
constexpr unsigned long kMaxLanguageId = 0xFFFF;

// A language code the launcher may append as "/L<code>": 1 to 16 characters,
// decimal digits or "0x" and hexadecimal digits, of a value up to
// kMaxLanguageId. Anything else could add arguments to the installer's
// command line.
bool IsValidLanguageCode(const std::string& code);

// The full help text and the version line.
const char* HelpText();
const char* VersionText();
