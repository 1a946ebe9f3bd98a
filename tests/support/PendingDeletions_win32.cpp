// The system's list of deletions at restart, as the Windows tests read it.
#include "PendingDeletions.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace test_support {

std::vector<std::string> TakePendingDeletions(const std::string& folder)
{
    HKEY key;
    std::vector<std::string> taken;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        ADD_FAILURE() << "Session Manager key";
        return taken;
    }
    DWORD type = 0, size = 0;
    const char* name = "PendingFileRenameOperations";
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        std::string value(size, '\0');
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size);
        // Pairs of strings: "\??\<source>", then the target ("" to delete);
        // an empty source ends the list.
        std::vector<std::string> strings;
        for (size_t at = 0; at < value.size();) {
            size_t end = value.find('\0', at);
            if (end == std::string::npos)
                end = value.size();
            std::string text = value.substr(at, end - at);
            if (strings.size() % 2 == 0 && text.empty())
                break;
            strings.push_back(text);
            at = end + 1;
        }
        std::string kept;
        for (size_t i = 0; i + 1 < strings.size(); i += 2) {
            const std::string source = strings[i].compare(0, 4, "\\??\\") == 0 ? strings[i].substr(4) : strings[i];
            if (strings[i + 1].empty() && source.compare(0, folder.size(), folder) == 0) {
                taken.push_back(source);
                continue;
            }
            kept += strings[i] + '\0' + strings[i + 1] + '\0';
        }
        kept += '\0';
        if (kept.size() > 1)
            RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                           static_cast<DWORD>(kept.size()));
        else
            RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
    return taken;
}

}  // namespace test_support
