// The launcher's package path on the host: open a package file, extract the installer.
//
// A package like the launch benchmark's (an installer of 1 MiB and payload
// files of 8 MiB in group "Commonfiles", CONFIG.INI in group "Config") is saved
// once per size under $TMPDIR; each iteration opens it as PackageUnpacker does
// (PackageHandle mode 2: map the file, entries as views of it),
// extracts the installer entry to a file and closes the handle. Bytes processed
// are package bytes. OpenManyGroups does the same with a package of N groups
// (Config, Commonfiles and N-2 groups of one 16-byte entry each), where the
// per-group work, not the bytes, is what costs.
// OpenManyEntries opens one of 65,535 small entries in one group and
// extracts one of them.
//
// For peak-memory measurements of one open and extraction alone:
//   package_bench --make PATH SIZE_MIB     makes the package file
//   package_bench --open-extract PATH DIR  opens it and extracts setup.exe into DIR
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "MappedFile.h"
#include "PackageHandle.h"

namespace {

const uint32_t kMiB = 1024 * 1024;

std::string TempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Executable-like bytes: a small instruction-ish pattern with varying immediates.
bool AddEntry(PackageHandle& package, const char* name, const char* group, uint32_t size, uint32_t seed)
{
    MappedFile block;
    if (!block.CreateMemory(nullptr, size, 0))
        return false;
    uint8_t* p = block.GetData();
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        p[i] = (i % 5 == 0) ? 0x8B : static_cast<uint8_t>(x >> 24) & 0x3F;
    }
    EntryInfo info = {};
    info.attributes = 0x20;
    return package.AddBuffer(block, name, group, info, 0) == 1;
}

// The package of size MiB at path.
bool MakePackage(const std::string& path, uint32_t sizeMiB)
{
    PackageHandle package;
    if (!package.Open(path.c_str(), PackageHandle::kCreateAlways))
        return false;
    const char config[] = "[Commonfiles]\r\nORG.SETUP.EXE=setup.exe\r\n";
    MappedFile text;
    if (!text.CreateMemory(nullptr, sizeof config - 1, 0))
        return false;
    text.Write(config, sizeof config - 1);
    EntryInfo info = {};
    if (!package.AddBuffer(text, "CONFIG.INI", "Config", info, 0) ||
        !AddEntry(package, "setup.exe", "Commonfiles", kMiB, 1))
        return false;
    uint32_t left = sizeMiB > 1 ? (sizeMiB - 1) * kMiB : 0;
    for (uint32_t i = 0; left > 0; ++i) {
        uint32_t n = left < 8 * kMiB ? left : 8 * kMiB;
        std::string name = "payload" + std::to_string(i) + ".bin";
        if (!AddEntry(package, name.c_str(), "Commonfiles", n, i + 2))
            return false;
        left -= n;
    }
    return package.Save() == 1;
}

// The package file of size MiB, made once.
std::string PackageOf(uint32_t sizeMiB)
{
    std::string path = TempFolder() + "/oem-package-bench-" + std::to_string(getpid()) + "-" +
                       std::to_string(sizeMiB) + ".oem";
    if (access(path.c_str(), F_OK) == 0)
        return path;
    return MakePackage(path, sizeMiB) ? path : std::string();
}

// A package of `groups` groups of `perGroup` entries of 16 bytes each, made once under name.
std::string SmallEntriesPackage(const char* name, uint32_t groups, uint32_t perGroup)
{
    std::string path = TempFolder() + "/oem-package-bench-" + std::to_string(getpid()) + "-" + name + ".oem";
    if (access(path.c_str(), F_OK) == 0)
        return path;
    PackageHandle package;
    if (!package.Open(path.c_str(), PackageHandle::kCreateAlways))
        return std::string();
    for (uint32_t g = 0; g < groups; ++g) {
        std::string group = "group" + std::to_string(g);
        for (uint32_t e = 0; e < perGroup; ++e) {
            std::string entry = "file" + std::to_string(e) + ".txt";
            if (!AddEntry(package, entry.c_str(), group.c_str(), 16, g + e))
                return std::string();
        }
    }
    return package.Save() ? path : std::string();
}

// The package of groupCount groups, made once.
std::string GroupsPackageOf(uint32_t groupCount)
{
    std::string path = TempFolder() + "/oem-package-bench-" + std::to_string(getpid()) + "-groups-" +
                       std::to_string(groupCount) + ".oem";
    if (access(path.c_str(), F_OK) == 0)
        return path;
    PackageHandle package;
    if (groupCount < 2 || !package.Open(path.c_str(), PackageHandle::kCreateAlways))
        return std::string();
    const char config[] = "[Commonfiles]\r\nORG.SETUP.EXE=setup.exe\r\n";
    MappedFile text;
    if (!text.CreateMemory(nullptr, sizeof config - 1, 0))
        return std::string();
    text.Write(config, sizeof config - 1);
    EntryInfo info = {};
    if (!package.AddBuffer(text, "CONFIG.INI", "Config", info, 0) ||
        !AddEntry(package, "setup.exe", "Commonfiles", 16, 1))
        return std::string();
    for (uint32_t i = 2; i < groupCount; ++i) {
        std::string group = "g" + std::to_string(i);
        if (!AddEntry(package, "f.bin", group.c_str(), 16, i))
            return std::string();
    }
    return package.Save() ? path : std::string();
}

// Each iteration opens the package at path as the unpacker does and extracts
// its installer to folder/target.
void OpenAndExtractEach(benchmark::State& state, const std::string& path, const std::string& folder,
                        const std::string& target)
{
    for (auto _ : state) {
        PackageHandle package;
        if (!package.Open(path.c_str(), PackageHandle::kOpenExisting) ||
            !package.ExtractEntry("setup.exe", "Commonfiles", folder.c_str(), target.c_str(), 0)) {
            state.SkipWithError("open or extract failed");
            break;
        }
    }
}

void OpenManyGroups(benchmark::State& state)
{
    const uint32_t groupCount = static_cast<uint32_t>(state.range(0));
    std::string path = GroupsPackageOf(groupCount);
    if (path.empty()) {
        state.SkipWithError("cannot make the package");
        return;
    }
    std::string folder = TempFolder();
    std::string target = "oem-package-bench-" + std::to_string(getpid()) + "-groups-setup.exe";
    OpenAndExtractEach(state, path, folder, target);
    state.counters["groups"] = groupCount;
    std::remove((folder + "/" + target).c_str());
}

void OpenAndExtract(benchmark::State& state)
{
    const uint32_t sizeMiB = static_cast<uint32_t>(state.range(0));
    std::string path = PackageOf(sizeMiB);
    if (path.empty()) {
        state.SkipWithError("cannot make the package");
        return;
    }
    std::string folder = TempFolder();
    std::string target = "oem-package-bench-" + std::to_string(getpid()) + "-setup.exe";
    OpenAndExtractEach(state, path, folder, target);
    MappedFile file;
    if (file.OpenFile(path.c_str(), 1, kOpenExisting, 0))
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * file.GetLength());
    std::remove((folder + "/" + target).c_str());
}

BENCHMARK(OpenAndExtract)->Arg(1)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpenManyGroups)->Arg(1000)->Arg(65532)->Unit(benchmark::kMillisecond)->UseRealTime();

void OpenManyEntries(benchmark::State& state)
{
    std::string path = SmallEntriesPackage("entries", 1, 65535);
    if (path.empty()) {
        state.SkipWithError("cannot make the package");
        return;
    }
    std::string folder = TempFolder();
    std::string target = "oem-package-bench-" + std::to_string(getpid()) + "-entry.txt";
    for (auto _ : state) {
        PackageHandle package;
        if (!package.Open(path.c_str(), PackageHandle::kOpenExisting) ||
            !package.ExtractEntry("file65534.txt", "group0", folder.c_str(), target.c_str(), 0)) {
            state.SkipWithError("open or extract failed");
            break;
        }
    }
    std::remove((folder + "/" + target).c_str());
}

BENCHMARK(OpenManyEntries)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--make")
        return MakePackage(argv[2], static_cast<uint32_t>(std::atoi(argv[3]))) ? 0 : 1;
    if (argc == 4 && std::string(argv[1]) == "--open-extract") {
        PackageHandle package;
        return package.Open(argv[2], PackageHandle::kOpenExisting) &&
                       package.ExtractEntry("setup.exe", "Commonfiles", argv[3], "setup.exe", 0)
                   ? 0
                   : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (uint32_t size : {1u, 64u, 256u})
        std::remove((TempFolder() + "/oem-package-bench-" + std::to_string(getpid()) + "-" +
                     std::to_string(size) + ".oem")
                        .c_str());
    for (uint32_t groups : {1000u, 65532u})
        std::remove((TempFolder() + "/oem-package-bench-" + std::to_string(getpid()) + "-groups-" +
                     std::to_string(groups) + ".oem")
                        .c_str());
    std::remove((TempFolder() + "/oem-package-bench-" + std::to_string(getpid()) + "-entries.oem").c_str());
    return 0;
}
