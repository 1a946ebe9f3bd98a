// Where scratch folders go on POSIX systems, and the process id in their names.
#include "ScratchFolder.h"

#include <unistd.h>

#include <cstdlib>

namespace test_support {

std::string ScratchFolder::TempFolder()
{
    const char* variable = std::getenv("TMPDIR");
    std::string folder = variable != nullptr && variable[0] != '\0' ? variable : "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string ScratchFolder::ProcessId() { return std::to_string(getpid()); }

}  // namespace test_support
