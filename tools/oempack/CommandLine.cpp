// Parses the packaging tool's command line into Options.
#include "CommandLine.h"

#include <cstdio>
#include <cstring>

#include "BuildVersion.h"
#include "ContainerFormat.h"
#include "PackageResources.h"

namespace {

// Walks the arguments; options take their value as "--name value" or "--name=value".
class ArgumentCursor {
public:
    ArgumentCursor(const std::vector<std::string>& arguments, const std::vector<std::string>& utf8)
        : arguments_(arguments), utf8_(utf8.size() == arguments.size() ? utf8 : arguments)
    {
    }

    bool AtEnd() const { return index_ >= arguments_.size(); }
    const std::string& Current() const { return arguments_[index_]; }
    void Next() { ++index_; }

    // When the current argument is the option `name` (alone or as name=value),
    // consumes it and its value. 1 found, 0 not this option, -1 value missing.
    int TakeValue(const char* name, std::string* value) { return Take(name, arguments_, value); }
    // TakeValue with the value as UTF-8 text.
    int TakeText(const char* name, std::string* value) { return Take(name, utf8_, value); }

private:
    int Take(const char* name, const std::vector<std::string>& from, std::string* value)
    {
        const std::string& arg = Current();
        size_t n = std::strlen(name);
        if (arg.compare(0, n, name) != 0)
            return 0;
        if (arg.size() == n) {
            if (index_ + 1 >= arguments_.size())
                return -1;
            *value = from[index_ + 1];
            index_ += 2;
            return 1;
        }
        if (arg[n] != '=')
            return 0;
        *value = from[index_].substr(n + 1);
        ++index_;
        return 1;
    }

    const std::vector<std::string>& arguments_;
    const std::vector<std::string>& utf8_;
    size_t index_ = 0;
};

bool IsOption(const std::string& arg)
{
    return arg.size() > 1 && arg[0] == '-';
}

bool IsHelp(const std::string& arg)
{
    return arg == "--help" || arg == "-h" || arg == "/?";
}

Status Usage(const std::string& message)
{
    return Status::Error(kErrorInvalidParameter, message);
}

Status Missing(const std::string& what)
{
    return Usage("missing " + what);
}

Status ParseCreate(ArgumentCursor& cursor, Options* options)
{
    std::string group = kCommonFilesGroup;
    bool endOfOptions = false;
    for (; !cursor.AtEnd();) {
        const std::string& arg = cursor.Current();
        if (!endOfOptions && IsOption(arg)) {
            std::string value;
            int r;
            if (arg == "--") {
                endOfOptions = true;
                cursor.Next();
            } else if (arg == "--compress") {
                options->compress = true;
                cursor.Next();
            } else if (arg == "--no-progress") {
                options->progress = false;
                cursor.Next();
            } else if ((r = cursor.TakeValue("-j", &value)) != 0) {
                if (r < 0)
                    return Missing("number of jobs after -j");
                options->jobs = value;
                options->jobsGiven = true;
            } else if ((r = cursor.TakeValue("--group", &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing("group name after --group");
                group = value;
            } else if ((r = cursor.TakeValue("--from-dir", &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing("folder after --from-dir");
                options->fromDirectories.push_back(value);
            } else {
                return Usage("unknown option for create: " + arg);
            }
            continue;
        }
        if (options->package.empty())
            options->package = arg;
        else
            options->files.push_back(FileArgument{group, arg});
        cursor.Next();
    }
    if (options->package.empty())
        return Missing("output package (create OUT.oem FILE...)");
    if (options->files.empty() && options->fromDirectories.empty())
        return Missing("files to pack (FILE... or --from-dir DIR)");
    return Status::Ok();
}

Status ParseOnePackage(ArgumentCursor& cursor, Options* options, const char* name)
{
    for (; !cursor.AtEnd();) {
        const std::string& arg = cursor.Current();
        if (options->command == Command::kList && arg == "--json") {
            options->json = true;
        } else if (arg == "--no-progress") {
            options->progress = false;
        } else if (IsOption(arg)) {
            return Usage(std::string("unknown option for ") + name + ": " + arg);
        } else if (options->package.empty()) {
            options->package = arg;
        } else {
            return Usage(std::string(name) + " takes one package, not also " + arg);
        }
        cursor.Next();
    }
    if (options->package.empty())
        return Missing("package to read");
    return Status::Ok();
}

Status ParseExtract(ArgumentCursor& cursor, Options* options)
{
    bool endOfOptions = false;
    for (; !cursor.AtEnd();) {
        const std::string& arg = cursor.Current();
        if (!endOfOptions && IsOption(arg)) {
            std::string value;
            int r;
            if (arg == "--") {
                endOfOptions = true;
                cursor.Next();
            } else if (arg == "--no-progress") {
                options->progress = false;
                cursor.Next();
            } else if ((r = cursor.TakeValue("--group", &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing("group name after --group");
                options->extractGroup = value;
            } else if ((r = cursor.TakeValue("-C", &value)) != 0 ||
                       (r = cursor.TakeValue("--directory", &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing("folder after -C");
                options->destination = value;
            } else if ((r = cursor.TakeValue("--overwrite", &value)) != 0) {
                if (r < 0)
                    return Missing("mode after --overwrite");
                options->overwriteMode = ParseOverwriteMode(value);
                if (options->overwriteMode < 0)
                    return Usage("unknown overwrite mode '" + value +
                                 "' (always, newer-time, newer-version, version-then-time or 0..3)");
            } else {
                return Usage("unknown option for extract: " + arg);
            }
            continue;
        }
        if (options->package.empty())
            options->package = arg;
        else
            options->extractEntries.push_back(arg);
        cursor.Next();
    }
    if (options->package.empty())
        return Missing("package to extract from");
    if (options->destination.empty())
        return Missing("destination folder (-C DIR)");
    if (!options->extractEntries.empty() && options->extractGroup.empty())
        return Usage("naming entries needs --group NAME");
    return Status::Ok();
}

// The options of stamp and make that name a file or folder: where the value
// goes, and whether only one of the two commands takes it.
struct PathOption {
    const char* name;
    std::string Options::*target;
    bool makeOnly;
    bool stampOnly;
};

constexpr PathOption kPathOptions[] = {
    {"--launcher", &Options::launcher, false, false},
    {"--package", &Options::packagePath, false, true},
    {"--language-ini", &Options::languageIni, false, true},
    {"--output", &Options::output, false, false},
    {"-o", &Options::output, false, false},
    {"--installer", &Options::installer, true, false},
    {"--payload", &Options::payload, true, false},
};

// Takes the current argument and its value when it is a path option of the
// command; *taken tells whether it was.
Status TakePathOption(ArgumentCursor& cursor, Options* options, bool make, bool* taken)
{
    *taken = false;
    for (const PathOption& option : kPathOptions) {
        if ((make && option.stampOnly) || (!make && option.makeOnly))
            continue;
        std::string value;
        const int r = cursor.TakeValue(option.name, &value);
        if (r == 0)
            continue;
        if (r < 0 || value.empty())
            return Missing(std::string("value after ") + option.name);
        options->*option.target = value;
        *taken = true;
        break;
    }
    return Status::Ok();
}

// Takes the current argument and its value when it is one of make's language
// options; *taken tells whether it was.
Status TakeLanguageOption(ArgumentCursor& cursor, Options* options, bool* taken)
{
    *taken = true;
    std::string value;
    int r;
    if ((r = cursor.TakeValue("--use-default-language", &value)) != 0) {
        if (r < 0 || (value != "0" && value != "1"))
            return Usage("--use-default-language takes 0 or 1");
        options->useDefaultLanguage = value == "1" ? 1 : 0;
        return Status::Ok();
    }
    if ((r = cursor.TakeValue("--select-language", &value)) != 0) {
        if (r < 0 || !IsValidLanguageCode(value))
            return Usage("--select-language takes a language code from 0 to 65535 such as 0x0404 or 1028, not '" +
                         value + "'");
        options->selectLanguage = value;
        return Status::Ok();
    }
    *taken = false;
    return Status::Ok();
}

// Takes the current argument and its value when it is --arch; *taken tells whether it was.
Status TakeArchitectureOption(ArgumentCursor& cursor, Options* options, bool* taken)
{
    std::string value;
    const int r = cursor.TakeValue("--arch", &value);
    *taken = r != 0;
    if (r < 0)
        return Missing("architecture after --arch (x86 or x64)");
    if (r > 0 && !ParseArchitecture(value, &options->arch))
        return Usage("--arch takes x86 or x64, not '" + value + "'");
    options->archGiven = options->archGiven || r > 0;
    return Status::Ok();
}

// The identity options that take text: where it goes in the branding.
struct TextOption {
    const char* name;
    std::optional<std::string> LauncherBranding::*target;
};

constexpr TextOption kTextOptions[] = {
    {"--product-name", &LauncherBranding::productName},
    {"--company", &LauncherBranding::company},
    {"--description", &LauncherBranding::description},
    {"--copyright", &LauncherBranding::copyright},
};

// Takes the current argument and its value when it is one of the identity
// options of stamp and make; *taken tells whether it was.
Status TakeBrandingOption(ArgumentCursor& cursor, Options* options, bool* taken)
{
    LauncherBranding& branding = options->branding;
    std::string value;
    int r = 0;
    *taken = true;
    for (const TextOption& option : kTextOptions) {
        if ((r = cursor.TakeText(option.name, &value)) == 0)
            continue;
        if (r < 0)
            return Missing(std::string("text after ") + option.name);
        branding.*option.target = value;
        return CheckUtf8Option(option.name, value);
    }
    if ((r = cursor.TakeText("--progress-text", &value)) != 0) {
        if (r < 0)
            return Missing("text after --progress-text");
        branding.progressText = value;
        return CheckProgressText(value);
    }
    const std::pair<const char*, std::optional<VersionOption> LauncherBranding::*> versions[] = {
        {"--product-version", &LauncherBranding::productVersion},
        {"--file-version", &LauncherBranding::fileVersion},
    };
    for (const auto& option : versions) {
        if ((r = cursor.TakeValue(option.first, &value)) == 0)
            continue;
        if (r < 0)
            return Missing(std::string("version after ") + option.first);
        VersionOption version;
        const Status parsed = ParseVersionOption(option.first, value, &version);
        branding.*option.second = version;
        return parsed;
    }
    if ((r = cursor.TakeValue("--execution-level", &value)) != 0) {
        ExecutionLevel level = ExecutionLevel::kRequireAdministrator;
        if (r < 0 || !ParseExecutionLevel(value, &level))
            return Usage("--execution-level takes asInvoker, highestAvailable or requireAdministrator, not '" +
                         value + "'");
        branding.executionLevel = level;
        return Status::Ok();
    }
    if ((r = cursor.TakeValue("--icon", &value)) != 0) {
        if (r < 0 || value.empty())
            return Missing("icon file after --icon");
        branding.iconPath = value;
        return Status::Ok();
    }
    *taken = false;
    return Status::Ok();
}

// Takes the current argument of stamp or make (with its value), or refuses it.
Status TakeStampOrMakeArgument(ArgumentCursor& cursor, Options* options, bool make)
{
    const std::string arg = cursor.Current();
    if (arg == "--no-progress") {
        options->progress = false;
        cursor.Next();
        return Status::Ok();
    }
    if (make && arg == "--compress") {
        options->compress = true;
        cursor.Next();
        return Status::Ok();
    }
    std::string jobs;
    const int r = make ? cursor.TakeValue("-j", &jobs) : 0;
    if (r < 0)
        return Missing("number of jobs after -j");
    if (r > 0) {
        options->jobs = jobs;
        options->jobsGiven = true;
        return Status::Ok();
    }
    bool taken = false;
    Status status = TakePathOption(cursor, options, make, &taken);
    if (status && !taken)
        status = TakeArchitectureOption(cursor, options, &taken);
    if (status && !taken && make)
        status = TakeLanguageOption(cursor, options, &taken);
    if (status && !taken)
        status = TakeBrandingOption(cursor, options, &taken);
    if (!status || taken)
        return status;
    return Usage(std::string("unexpected argument for ") + (make ? "make" : "stamp") + ": " + arg);
}

// The options stamp or make cannot do without.
Status CheckStampOrMakeComplete(const Options& options, bool make)
{
    if (options.output.empty())
        return Missing("output program (-o OUT.exe)");
    if (make) {
        if (options.installer.empty())
            return Missing("installer (--installer setup.exe)");
    } else if (options.packagePath.empty()) {
        return Missing("package (--package PKG)");
    }
    return Status::Ok();
}

Status ParseStampOrMake(ArgumentCursor& cursor, Options* options)
{
    const bool make = options->command == Command::kMake;
    while (!cursor.AtEnd()) {
        const Status taken = TakeStampOrMakeArgument(cursor, options, make);
        if (!taken)
            return taken;
    }
    return CheckStampOrMakeComplete(*options, make);
}

// The command a verb names; false (command untouched) for any other word.
bool CommandOfVerb(const std::string& verb, Command* command)
{
    static const struct {
        const char* name;
        Command command;
    } verbs[] = {
        {"create", Command::kCreate}, {"list", Command::kList},   {"verify", Command::kVerify},
        {"extract", Command::kExtract}, {"stamp", Command::kStamp}, {"make", Command::kMake},
    };
    for (const auto& v : verbs) {
        if (verb == v.name) {
            *command = v.command;
            return true;
        }
    }
    return false;
}

// A help option anywhere before "--" asks for help instead of the command.
bool AsksForHelp(const std::vector<std::string>& arguments)
{
    for (const std::string& arg : arguments) {
        if (arg == "--")
            break;
        if (IsHelp(arg))
            return true;
    }
    return false;
}

// Parses the arguments that follow the verb of options->command.
Status ParseCommandArguments(ArgumentCursor& cursor, Options* options)
{
    switch (options->command) {
    case Command::kCreate:
        return ParseCreate(cursor, options);
    case Command::kList:
        return ParseOnePackage(cursor, options, "list");
    case Command::kVerify:
        return ParseOnePackage(cursor, options, "verify");
    case Command::kExtract:
        return ParseExtract(cursor, options);
    case Command::kStamp:
    case Command::kMake:
        return ParseStampOrMake(cursor, options);
    default:
        return Status::Error(kErrorInvalidParameter);
    }
}

}  // namespace

int ParseOverwriteMode(const std::string& text)
{
    static const char* const names[] = {"always", "newer-time", "newer-version", "version-then-time"};
    for (int i = 0; i < 4; ++i) {
        if (text == names[i] || (text.size() == 1 && text[0] == char('0' + i)))
            return i;
    }
    return -1;
}

bool ParseArchitecture(const std::string& name, LauncherArchitecture* architecture)
{
    for (LauncherArchitecture known : {LauncherArchitecture::kX86, LauncherArchitecture::kX64}) {
        if (name == LauncherArchitectureName(known)) {
            *architecture = known;
            return true;
        }
    }
    return false;
}

bool IsValidLanguageCode(const std::string& code)
{
    if (code.empty() || code.size() > 16)
        return false;
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
    };
    const bool hex = code.size() > 2 && code[0] == '0' && (code[1] == 'x' || code[1] == 'X');
    const unsigned base = hex ? 16 : 10;
    unsigned long value = 0;
    for (size_t i = hex ? 2 : 0; i < code.size(); ++i) {
        const unsigned d = static_cast<unsigned>(digit(code[i]));
        // Refused as soon as it passes the largest identifier: it never overflows.
        if (d >= base || (value = value * base + d) > kMaxLanguageId)
            return false;
    }
    return true;
}

Status ParseCommandLine(const std::vector<std::string>& arguments, Options* options,
                        const std::vector<std::string>* utf8Arguments)
{
    *options = Options();
    if (arguments.empty())
        return Usage("no command given");
    const std::string& verb = arguments[0];
    if (IsHelp(verb) || verb == "help") {
        options->command = Command::kHelp;
        return Status::Ok();
    }
    if (verb == "--version" || verb == "version") {
        options->command = Command::kVersion;
        return Status::Ok();
    }
    if (!CommandOfVerb(verb, &options->command))
        return Usage("unknown command '" + verb + "'");
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (AsksForHelp(rest)) {
        options->command = Command::kHelp;
        return Status::Ok();
    }
    std::vector<std::string> utf8Rest;
    if (utf8Arguments != nullptr && utf8Arguments->size() == arguments.size())
        utf8Rest.assign(utf8Arguments->begin() + 1, utf8Arguments->end());
    ArgumentCursor cursor(rest, utf8Rest);
    return ParseCommandArguments(cursor, options);
}

const char* VersionText()
{
    static const std::string text = [] {
        char format[8];
        std::snprintf(format, sizeof format, "0x%04X", static_cast<unsigned>(kContainerVersion));
        return std::string("oempack ") + kToolVersion + " (commit " + kToolCommit +
               "; package container format BOEM " + format + ")\n";
    }();
    return text.c_str();
}

const char* HelpText()
{
    static const std::string text = std::string() +
           "Usage: oempack COMMAND [ARGUMENTS]\n"
           "Builds, inspects and unpacks setup packages (BOEM containers) and places\n"
           "them into a copy of the setup launcher.\n"
           "\n"
           "Commands:\n"
           "  create OUT.oem [--group NAME] FILE... [--group NAME FILE...] [--from-dir DIR]\n"
           "         [--compress] [-j N]\n"
           "      Packs files into a new package. Files go to the group named by the last\n"
           "      --group before them (\"Commonfiles\" when none). --from-dir makes one\n"
           "      group per subfolder of DIR; files directly in DIR go to \"Commonfiles\".\n"
           "      --compress stores an entry LZW-compressed when that makes it smaller.\n"
           "      -j N compresses N entries at a time (default: one per processor;\n"
           "      -j 1 one after the other); the package is the same whatever N is.\n"
           "  list PKG [--json]\n"
           "      Shows groups and entries: sizes, stored sizes, attributes, times (UTC).\n"
           "  verify PKG\n"
           "      Checks the whole container and decodes every compressed entry.\n"
           "      For a setup program, list and verify also name its architecture, list\n"
           "      the launcher's file version and identity (IDENTITY below), and verify\n"
           "      checks that its manifest is the launcher's for that architecture.\n"
           "  extract PKG [--group NAME] [ENTRY...] -C DIR [--overwrite MODE]\n"
           "      Writes entries to DIR\\GROUP\\NAME (entries of the empty group to DIR).\n"
           "      With --group only that group; with ENTRY names only those entries.\n"
           "      MODE: always (0, default), newer-time (1: keep a file whose last-write\n"
           "      time is not older), newer-version (2: keep a file whose version is not\n"
           "      older), version-then-time (3).\n"
           "  stamp --package PKG [--language-ini FILE] [--arch x86|x64]\n"
           "        [--launcher Setup.exe] [IDENTITY...] -o OUT.exe\n"
           "      Copies the launcher and writes the package (at least 1024 bytes, valid)\n"
           "      and the language settings into its resources. Without --language-ini\n"
           "      the shipped settings are used (UseDefault =1, SelectLanguage = 0x0404).\n"
           "  make --installer setup.exe [--payload DIR] [--use-default-language 0|1]\n"
           "       [--select-language CODE] [--compress] [-j N] [--arch x86|x64]\n"
           "       [--launcher Setup.exe] [IDENTITY...] -o OUT.exe\n"
           "      One step from an installer to a finished setup program: writes\n"
           "      Config\\CONFIG.INI naming the installer, puts the installer into group\n"
           "      \"Commonfiles\" and each subfolder of the payload into a group of its\n"
           "      name (files directly in the payload into \"Commonfiles\"), and stamps\n"
           "      the package into the launcher. The installer must be a Windows program\n"
           "      (not a DLL); CODE is from 0 to 65535.\n"
           "\n"
           "IDENTITY, the vendor's Setup.exe (stamp and make; text is UTF-8, any script):\n"
           "  --product-name TEXT, --company TEXT, --description TEXT, --copyright TEXT\n"
           "      ProductName, CompanyName, FileDescription (the UAC prompt's program name\n"
           "      once signed) and LegalCopyright of the version block.\n"
           "  --product-version A[.B[.C[.D]]], --file-version A[.B[.C[.D]]]\n"
           "      Parts 0..65535; the fixed block and the strings. The file version is\n"
           "      the product version unless given; OriginalFilename becomes OUT's name.\n"
           "  --execution-level asInvoker|highestAvailable|requireAdministrator\n"
           "      What the manifest asks for (default requireAdministrator).\n"
           "  --icon FILE.ico\n"
           "      Replaces the program's icon with every image of FILE.ico.\n"
           "  --progress-text TEXT\n"
           "      The progress window's label, one line of at most " +
           std::to_string(kMaxProgressTextLength) + " characters.\n"
           "Without them the launcher's own identity stays, byte for byte.\n"
           "\n"
           "The launcher of stamp and make: --launcher names it, and then --arch, when\n"
           "given, must name its architecture. Otherwise oempack takes the launcher of\n"
           "the architecture --arch names (default x86) from the first place that has one:\n"
           "  1. DIR/../share/oempack/launchers/ARCH/Setup.exe (DIR: oempack's own folder)\n"
           "  2. the launcher of the Windows build of that architecture that oempack was\n"
           "     built with (its build tree)\n"
           "  3. DIR/Setup.exe, for x86 only\n"
           "and refuses one built for another architecture. The package may be at most as\n"
           "large as the launcher's architecture can load (x86: 1.75 GiB).\n"
           "\n"
           "PKG may also be a setup program made by stamp or make: its package is read.\n"
           "Options for every command: --help, --version, --no-progress.\n"
           "A progress bar appears on standard error when it is a console.\n"
           "Exit status: 0 on success, 1 when the operation failed, 2 for a usage error.\n";
    return text.c_str();
}
