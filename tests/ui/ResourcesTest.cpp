// The compiled resources: template language and font, label string, manifest and version block.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"

namespace {

const WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

std::vector<uint8_t> ResourceBytes(LPCSTR type, LPCSTR name, WORD language)
{
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(self, type, name, language);
    if (!found)
        return {};
    const uint8_t* data = static_cast<const uint8_t*>(LockResource(LoadResource(self, found)));
    return std::vector<uint8_t>(data, data + SizeofResource(self, found));
}

std::string VersionString(std::vector<uint8_t>& block, const char* name)
{
    char* value = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return "<missing>";
    return length ? std::string(value) : std::string();
}

}  // namespace

TEST(LauncherResources, TemplateAndLabelAreChineseWithTheirFontAndText)
{
    std::vector<uint8_t> dialog = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEA(IDD_PROGRESS), kChinesePrc);
    ASSERT_GE(dialog.size(), 4u);
    uint32_t style = 0;
    std::memcpy(&style, dialog.data(), sizeof(style));
    EXPECT_EQ(static_cast<uint32_t>(WS_POPUP | DS_MODALFRAME | DS_SETFONT), style);
    // The font name is stored in UTF-16 whatever the script's encoding was.
    const uint8_t font[] = {0x8b, 0x5b, 0x53, 0x4f, 0, 0};
    EXPECT_NE(dialog.end(), std::search(dialog.begin(), dialog.end(), std::begin(font), std::end(font)));

    // String 102 lives in block 7 of the string table.
    EXPECT_FALSE(ResourceBytes(RT_STRING, MAKEINTRESOURCEA(IDS_PROGRESS_LABEL / 16 + 1), kChinesePrc).empty());
    wchar_t text[64] = {};
    ASSERT_GT(LoadStringW(GetModuleHandleA(nullptr), IDS_PROGRESS_LABEL, text, 64), 0);
    EXPECT_EQ(std::wstring(L"正在安装，请稍候..."), text);
}

TEST(LauncherResources, ManifestAsksForAdministratorWithoutNewCommonControls)
{
    std::vector<uint8_t> bytes = ResourceBytes(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1),
                                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
    EXPECT_EQ(std::string::npos, manifest.find("Common-Controls"));
}

TEST(LauncherResources, IconAndVersionBlockArePresent)
{
    EXPECT_NE(nullptr, LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)));

    char self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    DWORD ignored = 0;
    std::vector<uint8_t> block(GetFileVersionInfoSizeA(self, &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoA(self, 0, static_cast<DWORD>(block.size()), block.data()));
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    // The values themselves are the script's text; one shows the block is readable.
    EXPECT_EQ("Install Program", VersionString(block, "ProductName"));
}
