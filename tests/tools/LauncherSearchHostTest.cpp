// The launcher's architecture in oempack: --arch, the places searched for a launcher, the architecture in listings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "LauncherSearch.h"
#include "ListingFormat.h"

namespace {

Status ParseArguments(const std::vector<std::string>& arguments, Options* options)
{
    *options = Options();
    return ParseCommandLine(arguments, options);
}

}  // namespace

TEST(ToolsLauncherChoice, ArchTakesX86OrX64AndStampNoLongerNeedsALauncher)
{
    Options o;
    ASSERT_TRUE(ParseArguments({"stamp", "--package", "p.oem", "-o", "o.exe"}, &o));
    EXPECT_TRUE(o.launcher.empty());
    EXPECT_EQ(o.arch, LauncherArchitecture::kX86);
    EXPECT_FALSE(o.archGiven);

    ASSERT_TRUE(ParseArguments({"stamp", "--package", "p.oem", "--arch", "x64", "-o", "o.exe"}, &o));
    EXPECT_EQ(o.arch, LauncherArchitecture::kX64);
    EXPECT_TRUE(o.archGiven);
    ASSERT_TRUE(ParseArguments({"make", "--installer", "i.exe", "--arch=x86", "--launcher", "s.exe", "-o", "o"}, &o));
    EXPECT_EQ(o.arch, LauncherArchitecture::kX86);
    EXPECT_TRUE(o.archGiven);
    EXPECT_EQ(o.launcher, "s.exe");

    struct Refusal {
        std::vector<std::string> arguments;
        std::string message;
    };
    for (const Refusal& r : {
             Refusal{{"stamp", "--package", "p", "--arch", "arm", "-o", "o"}, "--arch takes x86 or x64, not 'arm'"},
             Refusal{{"make", "--installer", "i", "--arch=X64", "-o", "o"}, "--arch takes x86 or x64, not 'X64'"},
             Refusal{{"make", "--installer", "i", "--arch=", "-o", "o"}, "--arch takes x86 or x64, not ''"},
             Refusal{{"make", "--installer", "i", "-o", "o", "--arch"}, "missing architecture after --arch (x86 or x64)"},
             Refusal{{"list", "p.oem", "--arch", "x64"}, "unknown option for list: --arch"},
         }) {
        const Status s = ParseArguments(r.arguments, &o);
        EXPECT_EQ(s.Code(), kErrorInvalidParameter) << r.message;
        EXPECT_EQ(s.Message(), r.message);
    }
}

TEST(ToolsLauncherChoice, PlacesComeInstalledLayoutFirstThenBuildTreeThenBesideTheProgramForX86Only)
{
    const char sep = kPathSeparator;
    auto path = [sep](std::string text) {
        for (char& c : text)
            if (c == '/')
                c = sep;
        return text;
    };
    const std::string program = path("/opt/oem/bin");
    EXPECT_EQ(LauncherPlaces(program, "../../../win-x86", LauncherArchitecture::kX86),
              (std::vector<std::string>{path("/opt/oem/share/oempack/launchers/x86/Setup.exe"),
                                        path("/win-x86/launcher/Setup.exe"), path("/opt/oem/bin/Setup.exe")}));
    EXPECT_EQ(LauncherPlaces(program, "../build/./win-x64/", LauncherArchitecture::kX64),
              (std::vector<std::string>{path("/opt/oem/share/oempack/launchers/x64/Setup.exe"),
                                        path("/opt/oem/build/win-x64/launcher/Setup.exe")}));
    // No build folder recorded: no place in the build tree.
    EXPECT_EQ(LauncherPlaces(program, "", LauncherArchitecture::kX64),
              (std::vector<std::string>{path("/opt/oem/share/oempack/launchers/x64/Setup.exe")}));
    // A build folder on another root is taken as it is.
    EXPECT_EQ(LauncherPlaces(program, path("/srv/win-x86"), LauncherArchitecture::kX86)[1],
              path("/srv/win-x86/launcher/Setup.exe"));
    // The program at the root: ".." goes no higher.
    EXPECT_EQ(LauncherPlaces(path("/"), "", LauncherArchitecture::kX86),
              (std::vector<std::string>{path("/share/oempack/launchers/x86/Setup.exe"), path("/Setup.exe")}));
}

TEST(ToolsLauncherChoice, PathsAreNormalizedByName)
{
    const std::string s(1, kPathSeparator);
    EXPECT_EQ(NormalizePath("/a/b/../c/./d//e/"), s + "a" + s + "c" + s + "d" + s + "e");
    EXPECT_EQ(NormalizePath("/.."), s);
    EXPECT_EQ(NormalizePath("a/../../b"), ".." + s + "b");
    EXPECT_EQ(NormalizePath("a/.."), ".");
}

TEST(ToolsLauncherChoice, ListingsNameTheArchitectureAndFileVersionOfAStampedProgram)
{
    PackageListing listing;
    listing.imageSize = 2048;
    listing.header.version = 0x0200;
    const std::string text = FormatListingText(listing, "Setup.exe", "x64", "2.0.0.0");
    EXPECT_EQ(text, "Setup.exe: 2048 bytes, version 0x0200, 0 groups, 0 entries\narchitecture: x64\n"
                    "launcher file version: 2.0.0.0\n");
    EXPECT_EQ(FormatListingText(listing, "p.oem", "", ""), "p.oem: 2048 bytes, version 0x0200, 0 groups, 0 entries\n");
    // The new fields come after every field there was.
    EXPECT_EQ(FormatListingJson(listing, "Setup.exe", "0xAA64", "none", nullptr),
              "{\"package\":\"Setup.exe\",\"size\":2048,\"version\":512,\"entryCount\":0,\"groups\":[],"
              "\"architecture\":\"0xAA64\",\"fileVersion\":\"none\",\"identity\":null}\n");
    EXPECT_EQ(FormatListingJson(listing, "p.oem", "", "", nullptr),
              "{\"package\":\"p.oem\",\"size\":2048,\"version\":512,\"entryCount\":0,\"groups\":[],"
              "\"architecture\":null,\"fileVersion\":null,\"identity\":null}\n");
}
