// Entry point of the packaging tool: parses the command line and runs one command.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "CFileException.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "SystemApi.h"

int main(int argc, char** argv)
{
    RestrictDllSearchToSystemFolder();
    std::vector<std::string> arguments;
    std::vector<std::string> utf8Arguments;
    ReadProgramArguments(argc, argv, &arguments, &utf8Arguments);
    Options options;
    const Status parsed = ParseCommandLine(arguments, &options, &utf8Arguments);
    if (!parsed) {
        PrintError(parsed.Message());
        std::fputs("Try 'oempack --help' for more information.\n", stderr);
        return kExitUsage;
    }
    try {
        switch (options.command) {
        case Command::kHelp:
            PrintOut(HelpText());
            return kExitSuccess;
        case Command::kVersion:
            PrintOut(VersionText());
            return kExitSuccess;
        case Command::kCreate:
            return RunCreate(options);
        case Command::kList:
            return RunList(options);
        case Command::kVerify:
            return RunVerify(options);
        case Command::kExtract:
            return RunExtract(options);
        case Command::kStamp:
            return RunStamp(options);
        case Command::kMake:
            return RunMake(options);
        }
    } catch (const std::bad_alloc&) {
        PrintError("out of memory");
    } catch (const CFileException& e) {
        PrintError("file error " + std::to_string(e.m_lOsError) + " on " + std::string(e.m_strFileName));
    }
    return kExitFailure;
}
