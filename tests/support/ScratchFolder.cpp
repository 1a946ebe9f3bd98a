// Scratch folders: naming, claiming and removal (portable).
#include "ScratchFolder.h"

#include <atomic>
#include <stdexcept>

#include "SystemApi.h"
#include "TestFiles.h"

namespace test_support {

namespace {

std::atomic<unsigned> folderCount{0};

}  // namespace

ScratchFolder::ScratchFolder()
{
    const std::string base = TempFolder() + kPathSeparator + "oem-test-" + ProcessId() + "-";
    // Leftovers of an earlier process with the same id are passed over.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = base + std::to_string(folderCount++);
        if (MakeFolder(candidate)) {
            path_ = candidate;
            return;
        }
        if (!FileExists(candidate))
            break;
    }
    throw std::runtime_error("no scratch folder can be made below " + TempFolder());
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

std::string ScratchFolder::operator/(const std::string& leaf) const { return path_ + kPathSeparator + leaf; }

}  // namespace test_support
