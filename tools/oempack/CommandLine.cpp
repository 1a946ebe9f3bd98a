// Parses the packaging tool's command line into Options.
#include "CommandLine.h"

#include <cstring>

#include "PackageResources.h"

namespace {

// Walks the arguments; options take their value as "--name value" or "--name=value".
class ArgumentCursor {
public:
    explicit ArgumentCursor(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    bool AtEnd() const { return index_ >= arguments_.size(); }
    const std::string& Current() const { return arguments_[index_]; }
    void Next() { ++index_; }

    // When the current argument is the option `name` (alone or as name=value),
    // consumes it and its value. 1 found, 0 not this option, -1 value missing.
    int TakeValue(const char* name, std::string* value)
    {
        const std::string& arg = Current();
        size_t n = std::strlen(name);
        if (arg.compare(0, n, name) != 0)
            return 0;
        if (arg.size() == n) {
            if (index_ + 1 >= arguments_.size())
                return -1;
            *value = arguments_[index_ + 1];
            index_ += 2;
            return 1;
        }
        if (arg[n] != '=')
            return 0;
        *value = arg.substr(n + 1);
        ++index_;
        return 1;
    }

private:
    const std::vector<std::string>& arguments_;
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

bool Missing(std::string* error, const char* what)
{
    *error = std::string("missing ") + what;
    return false;
}

bool ParseCreate(ArgumentCursor& cursor, Options* options, std::string* error)
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
            } else if ((r = cursor.TakeValue("--group", &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing(error, "group name after --group");
                group = value;
            } else if ((r = cursor.TakeValue("--from-dir", &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing(error, "folder after --from-dir");
                options->fromDirectories.push_back(value);
            } else {
                *error = "unknown option for create: " + arg;
                return false;
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
        return Missing(error, "output package (create OUT.oem FILE...)");
    if (options->files.empty() && options->fromDirectories.empty())
        return Missing(error, "files to pack (FILE... or --from-dir DIR)");
    return true;
}

bool ParseOnePackage(ArgumentCursor& cursor, Options* options, std::string* error, const char* name)
{
    for (; !cursor.AtEnd();) {
        const std::string& arg = cursor.Current();
        if (options->command == Command::kList && arg == "--json") {
            options->json = true;
        } else if (arg == "--no-progress") {
            options->progress = false;
        } else if (IsOption(arg)) {
            *error = std::string("unknown option for ") + name + ": " + arg;
            return false;
        } else if (options->package.empty()) {
            options->package = arg;
        } else {
            *error = std::string(name) + " takes one package, not also " + arg;
            return false;
        }
        cursor.Next();
    }
    if (options->package.empty())
        return Missing(error, "package to read");
    return true;
}

bool ParseExtract(ArgumentCursor& cursor, Options* options, std::string* error)
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
                    return Missing(error, "group name after --group");
                options->extractGroup = value;
            } else if ((r = cursor.TakeValue("-C", &value)) != 0 ||
                       (r = cursor.TakeValue("--directory", &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing(error, "folder after -C");
                options->destination = value;
            } else if ((r = cursor.TakeValue("--overwrite", &value)) != 0) {
                if (r < 0)
                    return Missing(error, "mode after --overwrite");
                options->overwriteMode = ParseOverwriteMode(value);
                if (options->overwriteMode < 0) {
                    *error = "unknown overwrite mode '" + value +
                             "' (always, newer-time, newer-version, version-then-time or 0..3)";
                    return false;
                }
            } else {
                *error = "unknown option for extract: " + arg;
                return false;
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
        return Missing(error, "package to extract from");
    if (options->destination.empty())
        return Missing(error, "destination folder (-C DIR)");
    if (!options->extractEntries.empty() && options->extractGroup.empty()) {
        *error = "naming entries needs --group NAME";
        return false;
    }
    return true;
}

bool ParseStampOrMake(ArgumentCursor& cursor, Options* options, std::string* error)
{
    bool make = options->command == Command::kMake;
    for (; !cursor.AtEnd();) {
        const std::string& arg = cursor.Current();
        std::string value;
        int r = 0;
        if (arg == "--no-progress") {
            options->progress = false;
            cursor.Next();
            continue;
        }
        if (make && arg == "--compress") {
            options->compress = true;
            cursor.Next();
            continue;
        }
        struct Valued {
            const char* name;
            std::string* target;
            bool makeOnly;
            bool stampOnly;
        } const valued[] = {
            {"--launcher", &options->launcher, false, false},
            {"--package", &options->packagePath, false, true},
            {"--language-ini", &options->languageIni, false, true},
            {"--output", &options->output, false, false},
            {"-o", &options->output, false, false},
            {"--installer", &options->installer, true, false},
            {"--payload", &options->payload, true, false},
        };
        bool matched = false;
        for (const Valued& v : valued) {
            if ((make && v.stampOnly) || (!make && v.makeOnly))
                continue;
            if ((r = cursor.TakeValue(v.name, &value)) != 0) {
                if (r < 0 || value.empty())
                    return Missing(error, (std::string("value after ") + v.name).c_str());
                *v.target = value;
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        if (make && (r = cursor.TakeValue("--use-default-language", &value)) != 0) {
            if (r < 0 || (value != "0" && value != "1")) {
                *error = "--use-default-language takes 0 or 1";
                return false;
            }
            options->useDefaultLanguage = value == "1" ? 1 : 0;
            continue;
        }
        if (make && (r = cursor.TakeValue("--select-language", &value)) != 0) {
            if (r < 0 || !IsValidLanguageCode(value)) {
                *error = "--select-language takes a language code such as 0x0404 or 1028";
                return false;
            }
            options->selectLanguage = value;
            continue;
        }
        *error = std::string("unexpected argument for ") + (make ? "make" : "stamp") + ": " + arg;
        return false;
    }
    if (options->output.empty())
        return Missing(error, "output program (-o OUT.exe)");
    if (make) {
        if (options->installer.empty())
            return Missing(error, "installer (--installer setup.exe)");
    } else {
        if (options->launcher.empty())
            return Missing(error, "launcher (--launcher Setup.exe)");
        if (options->packagePath.empty())
            return Missing(error, "package (--package PKG)");
    }
    return true;
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

bool IsValidLanguageCode(const std::string& code)
{
    if (code.empty() || code.size() > 16)
        return false;
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    size_t start = 0;
    bool hex = code.size() > 2 && code[0] == '0' && (code[1] == 'x' || code[1] == 'X');
    if (hex)
        start = 2;
    for (size_t i = start; i < code.size(); ++i) {
        if (hex ? !isHex(code[i]) : !(code[i] >= '0' && code[i] <= '9'))
            return false;
    }
    return true;
}

int ParseCommandLine(const std::vector<std::string>& arguments, Options* options, std::string* error)
{
    *options = Options();
    error->clear();
    if (arguments.empty()) {
        *error = "no command given";
        return 0;
    }
    const std::string& verb = arguments[0];
    if (IsHelp(verb) || verb == "help") {
        options->command = Command::kHelp;
        return 1;
    }
    if (verb == "--version" || verb == "version") {
        options->command = Command::kVersion;
        return 1;
    }
    static const struct {
        const char* name;
        Command command;
    } verbs[] = {
        {"create", Command::kCreate}, {"list", Command::kList},   {"verify", Command::kVerify},
        {"extract", Command::kExtract}, {"stamp", Command::kStamp}, {"make", Command::kMake},
    };
    bool known = false;
    for (const auto& v : verbs) {
        if (verb == v.name) {
            options->command = v.command;
            known = true;
        }
    }
    if (!known) {
        *error = "unknown command '" + verb + "'";
        return 0;
    }
    std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    for (const std::string& arg : rest) {
        if (arg == "--")
            break;
        if (IsHelp(arg)) {
            options->command = Command::kHelp;
            return 1;
        }
    }
    ArgumentCursor cursor(rest);
    bool ok = false;
    switch (options->command) {
    case Command::kCreate:
        ok = ParseCreate(cursor, options, error);
        break;
    case Command::kList:
        ok = ParseOnePackage(cursor, options, error, "list");
        break;
    case Command::kVerify:
        ok = ParseOnePackage(cursor, options, error, "verify");
        break;
    case Command::kExtract:
        ok = ParseExtract(cursor, options, error);
        break;
    case Command::kStamp:
    case Command::kMake:
        ok = ParseStampOrMake(cursor, options, error);
        break;
    default:
        break;
    }
    return ok ? 1 : 0;
}

const char* VersionText()
{
    return "oempack 2.0 (package container format BOEM 0x0200)\n";
}

const char* HelpText()
{
    return "Usage: oempack COMMAND [ARGUMENTS]\n"
           "Builds, inspects and unpacks setup packages (BOEM containers) and places\n"
           "them into a copy of the setup launcher.\n"
           "\n"
           "Commands:\n"
           "  create OUT.oem [--group NAME] FILE... [--group NAME FILE...] [--from-dir DIR]\n"
           "         [--compress]\n"
           "      Packs files into a new package. Files go to the group named by the last\n"
           "      --group before them (\"Commonfiles\" when none). --from-dir makes one\n"
           "      group per subfolder of DIR; files directly in DIR go to \"Commonfiles\".\n"
           "      --compress stores an entry LZW-compressed when that makes it smaller.\n"
           "  list PKG [--json]\n"
           "      Shows groups and entries: sizes, stored sizes, attributes, times (UTC).\n"
           "  verify PKG\n"
           "      Checks the whole container and decodes every compressed entry.\n"
           "  extract PKG [--group NAME] [ENTRY...] -C DIR [--overwrite MODE]\n"
           "      Writes entries to DIR\\GROUP\\NAME (entries of the empty group to DIR).\n"
           "      With --group only that group; with ENTRY names only those entries.\n"
           "      MODE: always (0, default), newer-time (1: keep a file whose last-write\n"
           "      time is not older), newer-version (2: keep a file whose version is not\n"
           "      older), version-then-time (3).\n"
           "  stamp --launcher Setup.exe --package PKG [--language-ini FILE] -o OUT.exe\n"
           "      Copies the launcher and writes the package (at least 1024 bytes, valid)\n"
           "      and the language settings into its resources. Without --language-ini\n"
           "      the shipped settings are used (UseDefault =1, SelectLanguage = 0x0404).\n"
           "  make --installer setup.exe [--payload DIR] [--use-default-language 0|1]\n"
           "       [--select-language CODE] [--compress] [--launcher Setup.exe] -o OUT.exe\n"
           "      One step from an installer to a finished setup program: writes\n"
           "      Config\\CONFIG.INI naming the installer, puts the installer into group\n"
           "      \"Commonfiles\" and each subfolder of the payload into a group of its\n"
           "      name (files directly in the payload into \"Commonfiles\"), and stamps\n"
           "      the package into the launcher (default: Setup.exe beside oempack.exe).\n"
           "\n"
           "PKG may also be a setup program made by stamp or make: its package is read.\n"
           "Options for every command: --help, --version, --no-progress.\n"
           "A progress bar appears on standard error when it is a console.\n"
           "Exit status: 0 on success, 1 when the operation failed, 2 for a usage error.\n";
}
