// What holding the work folders and Language.ini adds to a launch: the steps timed alone, alternated with the steps without holds.
//
//   HoldCostBench.exe <folder> [rounds]
// In <folder> (which must exist), each round makes and removes a work folder
// as the launcher did before the hold (CreateDirectoryA, marker, DeleteTree)
// and as it does now (WorkFolder: CreateHeldFolder, marker, hold let go,
// DeleteTree), in turn first, and holds a Language.ini, compares it with its
// bytes and lets it go. Prints the medians in microseconds and what a launch
// (two folders, one Language.ini) pays more.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FolderUtilities.h"
#include "HeldFile.h"
#include "WorkFolder.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return static_cast<double>(ticks.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool FolderBefore(const std::string& path)
{
    if (!CreateDirectoryA(path.c_str(), nullptr))
        return false;
    HANDLE marker = CreateFileA((path + "\\" + kWorkFolderMarkerName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(marker);
    DeleteTree(path.c_str());
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool FolderNow(const std::string& path)
{
    WorkFolder folder;
    return folder.Create(path.c_str(), nullptr).IsOk() && folder.Remove();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: HoldCostBench <folder> [rounds]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 500;
    const std::string work = folder + "\\{00000000-0000-0000-0000-000000000000}";
    const std::string ini = folder + "\\Language.ini";
    const std::string text = "[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n";
    HANDLE file = CreateFileA(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        std::fprintf(stderr, "cannot write %s\n", ini.c_str());
        return 1;
    }
    CloseHandle(file);

    std::vector<double> before, now, language;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool held = (round + turn) % 2 == 1;
            const double start = Now();
            if (!(held ? FolderNow(work) : FolderBefore(work))) {
                std::fprintf(stderr, "round %d: the folder could not be made and removed\n", round);
                return 1;
            }
            (held ? now : before).push_back(Now() - start);
        }
        const double start = Now();
        HeldFile hold;
        bool same = false;
        if (!hold.Hold(ini.c_str()) || !hold.Matches(text.data(), text.size(), &same) || !same) {
            std::fprintf(stderr, "round %d: Language.ini could not be held and compared\n", round);
            return 1;
        }
        hold.Release();
        language.push_back(Now() - start);
    }
    DeleteFileA(ini.c_str());
    const double folderCost = Median(now) - Median(before);
    std::printf("rounds %d; medians, us: work folder before %.0f, held %.0f (%+.0f); Language.ini held, compared, "
                "let go %.0f; a launch (2 folders, 1 Language.ini): %+.0f us\n",
                rounds, Median(before), Median(now), folderCost, Median(language),
                2 * folderCost + Median(language));
    return 0;
}
