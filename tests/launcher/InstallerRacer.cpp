// A program of the same user racing launches: copies itself over every setup.exe in the temporary folder's work folders.
//
//   InstallerRacer.exe --race <temp folder> <stop file>
// loops over <temp folder>\{*} until <stop file> exists, replacing each
// folder's setup.exe with a copy of itself and its Language.ini with settings
// that add a switch of its own (kRacerLanguageIni): in turn by writing over
// them, and by moving them away (MoveFileExA) and writing into their place.
// Started any other way, it is the racer's program running where the installer
// should: it appends a line to the file OEM_RACER_RAN names and exits with 77.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kRacerRanExitCode = 77;
// "/EVIL" must never reach an installer's command line.
constexpr char kRacerLanguageIni[] = "[LANGUAGE]\r\nUseDefault=0\r\nSelectLanguage=0404 /EVIL\r\n";

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Writes the racer's settings over an existing Language.ini (none is made where there was none).
bool RewriteLanguage(const std::string& path, bool moveAway)
{
    if (moveAway && !MoveFileExA(path.c_str(), (path + ".old").c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, moveAway ? CREATE_NEW : TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool done = WriteFile(file, kRacerLanguageIni, sizeof kRacerLanguageIni - 1, &written, nullptr) != 0;
    CloseHandle(file);
    return done;
}

int Race(const std::string& temp, const std::string& stopFile)
{
    char self[MAX_PATH] = {};
    if (GetModuleFileNameA(nullptr, self, sizeof self) == 0)
        return 1;
    unsigned long swaps = 0;
    for (unsigned long pass = 0; !Exists(stopFile); ++pass) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp + "\\{*}").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            Sleep(1);
            continue;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                continue;
            const std::string folder = temp + "\\" + found.cFileName;
            if (RewriteLanguage(folder + "\\Language.ini", pass % 2 == 1))
                ++swaps;
            const std::string target = folder + "\\setup.exe";
            if (pass % 2 == 1 && MoveFileExA(target.c_str(), (target + ".old").c_str(), MOVEFILE_REPLACE_EXISTING))
                ++swaps;
            if (CopyFileA(self, target.c_str(), FALSE))
                ++swaps;
        } while (FindNextFileA(search, &found));
        FindClose(search);
        // Leaves the launches beside it a share of the processor.
        Sleep(1);
    }
    std::printf("swaps: %lu\n", swaps);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--race") == 0)
        return Race(argv[2], argv[3]);
    char ranFile[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("OEM_RACER_RAN", ranFile, sizeof ranFile);
    if (length != 0 && length < sizeof ranFile) {
        if (FILE* file = std::fopen(ranFile, "ab")) {
            std::fprintf(file, "ran: %s\n", GetCommandLineA());
            std::fclose(file);
        }
    }
    return kRacerRanExitCode;
}
