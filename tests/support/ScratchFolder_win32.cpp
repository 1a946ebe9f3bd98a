// Where scratch folders go on Windows, and the process id in their names.
#include "ScratchFolder.h"

#include <windows.h>

namespace test_support {

std::string ScratchFolder::TempFolder()
{
    char temp[MAX_PATH] = {};
    std::string folder(temp, GetTempPathA(sizeof temp, temp));
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::string ScratchFolder::ProcessId() { return std::to_string(GetCurrentProcessId()); }

}  // namespace test_support
