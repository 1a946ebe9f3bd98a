// The compiled resources: dialog template, label string, icon, manifest and version block.
#include <gtest/gtest.h>

#include <windows.h>

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

// Reads a dialog template field by field; every read is bounds-checked and a
// read past the end marks the reader failed.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool Ok() const { return ok_; }
    uint16_t Word()
    {
        if (!ok_ || pos_ > bytes_.size() || bytes_.size() - pos_ < 2) {
            ok_ = false;
            return 0;
        }
        uint16_t value = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return value;
    }
    uint32_t Dword()
    {
        uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    // A name or ordinal field: 0xFFFF + ordinal, or a zero-terminated string.
    std::wstring NameOrOrdinal()
    {
        uint16_t first = Word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring text;
        for (uint16_t c = first; ok_ && c != 0; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }

private:
    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

struct TemplateItem {
    uint32_t style;
    int16_t x, y, cx, cy;
    uint16_t id;
    std::wstring className;
    std::wstring title;
};

TemplateItem ReadItem(TemplateReader& in)
{
    in.AlignDword();
    TemplateItem item;
    item.style = in.Dword();
    in.Dword();  // extended style
    item.x = static_cast<int16_t>(in.Word());
    item.y = static_cast<int16_t>(in.Word());
    item.cx = static_cast<int16_t>(in.Word());
    item.cy = static_cast<int16_t>(in.Word());
    item.id = in.Word();
    item.className = in.NameOrOrdinal();
    item.title = in.NameOrOrdinal();
    uint16_t extra = in.Word();
    (void)extra;
    return item;
}

std::string VersionString(const std::vector<uint8_t>& block, const char* name)
{
    char* value = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return "<missing>";
    return length ? std::string(value) : std::string();
}

}  // namespace

TEST(LauncherResources, ProgressTemplateIsChineseCaptionlessWithBarAndCentredLabel)
{
    std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEA(IDD_PROGRESS), kChinesePrc);
    ASSERT_FALSE(bytes.empty()) << "dialog 101 in Chinese (PRC)";
    TemplateReader in(bytes);
    uint32_t style = in.Dword();
    EXPECT_EQ(static_cast<uint32_t>(WS_POPUP | DS_MODALFRAME | DS_SETFONT), style);
    in.Dword();
    EXPECT_EQ(2, in.Word());
    in.Word();
    in.Word();
    EXPECT_EQ(312, in.Word());
    EXPECT_EQ(83, in.Word());
    EXPECT_EQ(L"", in.NameOrOrdinal());  // menu
    EXPECT_EQ(L"", in.NameOrOrdinal());  // class
    EXPECT_EQ(L"", in.NameOrOrdinal());  // caption
    EXPECT_EQ(9, in.Word());
    EXPECT_EQ(std::wstring(L"宋体"), in.NameOrOrdinal());

    TemplateItem bar = ReadItem(in);
    TemplateItem label = ReadItem(in);
    ASSERT_TRUE(in.Ok());
    EXPECT_EQ(IDC_PROGRESS_BAR, bar.id);
    EXPECT_EQ(0, _wcsicmp(L"msctls_progress32", bar.className.c_str()));
    EXPECT_EQ(static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_BORDER), bar.style);
    EXPECT_EQ((std::vector<int>{25, 35, 280, 14}), (std::vector<int>{bar.x, bar.y, bar.cx, bar.cy}));

    EXPECT_EQ(IDC_PROGRESS_LABEL, label.id);
    EXPECT_EQ(L"#130", label.className);  // the predefined static class
    EXPECT_EQ(static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER), label.style);
    EXPECT_EQ((std::vector<int>{27, 16, 261, 12}), (std::vector<int>{label.x, label.y, label.cx, label.cy}));
}

TEST(LauncherResources, LabelStringIsChineseAndReadsTheSameOnEveryCodePage)
{
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
    ASSERT_FALSE(bytes.empty());
    std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
    EXPECT_EQ(std::string::npos, manifest.find("Common-Controls"));
}

TEST(LauncherResources, IconAndVersionBlockArePresent)
{
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    EXPECT_NE(nullptr, icon);

    char self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(self, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(self, 0, size, block.data()));

    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    EXPECT_EQ("Setup.exe", VersionString(block, "FileDescription"));
    EXPECT_EQ("Setup.exe", VersionString(block, "InternalName"));
    EXPECT_EQ("Setup.exe", VersionString(block, "OriginalFilename"));
    EXPECT_EQ("Install Program", VersionString(block, "ProductName"));
    EXPECT_EQ("2.0", VersionString(block, "FileVersion"));
    EXPECT_EQ("2.0", VersionString(block, "ProductVersion"));
    for (const char* empty : {"Comments", "CompanyName", "LegalTrademarks", "PrivateBuild", "SpecialBuild"})
        EXPECT_EQ("", VersionString(block, empty)) << empty;
}
