// A branded Setup.exe under Wine: the system's version and icon functions read the vendor's identity, the loader its manifest, and it launches.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

void Put16(std::string* out, uint16_t value)
{
    out->push_back(static_cast<char>(value));
    out->push_back(static_cast<char>(value >> 8));
}
void Put32(std::string* out, uint32_t value)
{
    Put16(out, static_cast<uint16_t>(value));
    Put16(out, static_cast<uint16_t>(value >> 16));
}

// An icon file of one 32x32 32-bit image, every pixel colour (0xAARRGGBB).
std::string SolidIcon(uint32_t colour)
{
    constexpr uint32_t kSide = 32;
    std::string image;
    Put32(&image, 40);  // BITMAPINFOHEADER: the height counts the colour and the mask rows
    Put32(&image, kSide);
    Put32(&image, kSide * 2);
    Put16(&image, 1);
    Put16(&image, 32);
    for (int i = 0; i < 6; ++i)
        Put32(&image, 0);
    for (uint32_t i = 0; i < kSide * kSide; ++i)
        Put32(&image, colour);
    image.append(kSide * kSide / 8, '\0');  // the mask: every pixel shown
    std::string file;
    Put16(&file, 0);
    Put16(&file, 1);
    Put16(&file, 1);
    file += static_cast<char>(kSide);
    file += static_cast<char>(kSide);
    file += '\0';
    file += '\0';
    Put16(&file, 1);
    Put16(&file, 32);
    Put32(&file, static_cast<uint32_t>(image.size()));
    Put32(&file, 22);
    return file + image;
}

// Runs a command line given in UTF-16 (the identity text goes through it as is); its exit code.
DWORD RunWide(std::wstring commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

std::wstring VersionString(const std::vector<uint8_t>& block, const wchar_t* name)
{
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return L"<missing>";
    return std::wstring(value, length > 0 ? length - 1 : 0);
}

// The colour of the middle pixel of an icon's colour bitmap, 0xRRGGBB.
uint32_t MiddleColour(HICON icon)
{
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return 0xFFFFFFFF;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = 32;
    format.bmiHeader.biHeight = 32;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    std::vector<uint32_t> pixels(32 * 32);
    HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, info.hbmColor, 0, 32, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return rows == 32 ? (pixels[16 * 32 + 16] & 0xFFFFFF) : 0xFFFFFFFF;
}

}  // namespace

TEST(BrandedSetup, WindowsReadsTheVendorsIdentityAndTheProgramLaunches)
{
    ScratchFolder dir;
    ASSERT_TRUE(WriteBytes(dir / "vendor.ico", SolidIcon(0xFFFF0000)));
    const std::string setup = dir / "Contoso-Setup.exe";
    const std::wstring make = Wide(Quote(WindowsPath(OEMPACK_EXE)) + " make --installer " +
                                   Quote(WindowsPath(SAMPLE_INSTALLER_EXE)) + " --launcher " +
                                   Quote(WindowsPath(LAUNCHER_EXE)) + " -o " + Quote(setup) + " --icon " +
                                   Quote(dir / "vendor.ico")) +
                              L" --product-name \"Contoso 套件\" --company \"Contoso Ltd.\""
                              L" --description \"Contoso Suite Setup\" --copyright \"\u00A9 2026 Contoso\""
                              L" --product-version 5.2 --file-version 5.2.1.7 --execution-level asInvoker";
    ASSERT_EQ(RunWide(make), 0u);

    const std::wstring path = Wide(setup);
    DWORD ignored = 0;
    std::vector<uint8_t> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    EXPECT_EQ(VersionString(block, L"ProductName"), L"Contoso 套件");
    EXPECT_EQ(VersionString(block, L"CompanyName"), L"Contoso Ltd.");
    EXPECT_EQ(VersionString(block, L"FileDescription"), L"Contoso Suite Setup");
    EXPECT_EQ(VersionString(block, L"LegalCopyright"), L"\u00A9 2026 Contoso");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"5.2");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"5.2.1.7");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"Contoso-Setup.exe");
    EXPECT_EQ(VersionString(block, L"InternalName"), L"Setup.exe");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00050002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010007u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00050002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    // One icon, the vendor's red one (the launcher's own is not red).
    EXPECT_EQ(ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0), 1u);
    HICON large = nullptr;
    ASSERT_EQ(ExtractIconExW(path.c_str(), 0, &large, nullptr, 1), 1u);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(MiddleColour(large), 0xFF0000u);
    DestroyIcon(large);

    // The manifest as the loader maps it: asInvoker, this build's architecture.
    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string manifest(bytes, SizeofResource(image, found));
    FreeLibrary(image);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
    EXPECT_NE(manifest.find(std::strcmp(OEM_WINDOWS_ARCH, "x64") == 0 ? "processorArchitecture=\"amd64\""
                                                                      : "processorArchitecture=\"x86\""),
              std::string::npos);

    // It launches and hands back the installer's exit code.
    const ProcessResult run =
        RunProcess(Quote(setup) + " /S", {"OEM_SAMPLE_EXIT=5", "OEM_SAMPLE_REPORT=" + (dir / "report.txt")}, dir.Path());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 5u);
    std::string report;
    EXPECT_TRUE(ReadBytes(dir / "report.txt", &report));
}
