// The packaging tool's parts in-process: argument grammar, input rules, image building, verification, rendering.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "ContainerFormat.h"
#include "EntryBuilder.h"
#include "LauncherStamp.h"
#include "ListingFormat.h"
#include "PackageExtractor.h"
#include "PackageDirectory.h"
#include "PackageListing.h"
#include "PackagePlan.h"
#include "PackageWriter.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

Options Parse(const std::vector<std::string>& args, bool expectOk = true)
{
    Options options;
    const Status parsed = ParseCommandLine(args, &options);
    EXPECT_EQ(parsed.IsOk(), expectOk) << parsed.Message();
    if (!expectOk) {
        EXPECT_FALSE(parsed.Message().empty());
    }
    return options;
}

std::vector<uint8_t> BuildImage(const PackagePlan& plan, bool compress, WriteStats* stats = nullptr)
{
    MappedFile image;
    WriteStats local;
    const Status built = BuildPackageImage(plan, compress, image, nullptr, stats ? stats : &local);
    EXPECT_TRUE(built) << built.Message();
    if (image.IsClosed())
        return {};
    return std::vector<uint8_t>(image.GetData(), image.GetData() + image.GetSize());
}

ByteView View(const std::vector<uint8_t>& bytes)
{
    return ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::string Text(uint32_t n, char c)
{
    return std::string(n, c);
}

const ListedEntry* FindListed(const PackageListing& listing, const std::string& group, const std::string& name)
{
    for (const ListedGroup& g : listing.groups)
        if (g.name == group)
            for (const ListedEntry& e : g.entries)
                if (e.name == name)
                    return &e;
    return nullptr;
}

}  // namespace

// ---- command-line grammar ----

TEST(ToolsCommandLine, FilesTakeTheLastGroupNamedBeforeThem)
{
    Options o = Parse({"create", "out.oem", "a", "--group", "Bin", "b", "--group=Doc", "c", "d", "--compress"});
    EXPECT_EQ(o.command, Command::kCreate);
    EXPECT_EQ(o.package, "out.oem");
    ASSERT_EQ(o.files.size(), 4u);
    EXPECT_EQ(o.files[0].group, "Commonfiles");
    EXPECT_EQ(o.files[1].group, "Bin");
    EXPECT_EQ(o.files[2].group, "Doc");
    EXPECT_EQ(o.files[3].path, "d");
    EXPECT_TRUE(o.compress);

    o = Parse({"create", "out.oem", "--from-dir", "tree", "--", "--odd-name"});
    EXPECT_EQ(o.fromDirectories, std::vector<std::string>{"tree"});
    ASSERT_EQ(o.files.size(), 1u);
    EXPECT_EQ(o.files[0].path, "--odd-name");
}

TEST(ToolsCommandLine, RefusesIncompleteOrUnknownArguments)
{
    Parse({}, false);
    Parse({"frobnicate"}, false);
    Parse({"create", "out.oem"}, false);                   // nothing to pack
    Parse({"create", "out.oem", "a", "--group"}, false);   // value missing
    Parse({"create", "out.oem", "--level", "9", "a"}, false);
    Parse({"list"}, false);
    Parse({"list", "a.oem", "b.oem"}, false);
    Parse({"verify", "a.oem", "--json"}, false);           // --json is for list only
    Parse({"extract", "a.oem"}, false);                    // -C missing
    Parse({"extract", "a.oem", "x.txt", "-C", "out"}, false);  // entries need a group
    Parse({"extract", "a.oem", "-C", "out", "--overwrite", "4"}, false);
    Parse({"stamp", "--launcher", "s.exe", "-o", "o.exe"}, false);  // package missing
    Parse({"stamp", "--installer", "i.exe", "--launcher", "s.exe", "--package", "p", "-o", "o"}, false);
    Parse({"make", "-o", "o.exe"}, false);                 // installer missing
    Parse({"make", "--installer", "i.exe", "-o", "o.exe", "--use-default-language", "2"}, false);
    Parse({"make", "--installer", "i.exe", "-o", "o.exe", "--select-language", "0404 /Q"}, false);
}

TEST(ToolsCommandLine, ExtractAndMakeOptions)
{
    Options o = Parse({"extract", "p.oem", "--group", "Config", "CONFIG.INI", "-C=out", "--overwrite",
                       "version-then-time"});
    EXPECT_EQ(o.extractEntries, std::vector<std::string>{"CONFIG.INI"});
    EXPECT_EQ(o.destination, "out");
    EXPECT_EQ(o.overwriteMode, 3);

    o = Parse({"make", "--installer", "i.exe", "--use-default-language", "0", "--select-language", "1028", "-o",
               "o.exe"});
    EXPECT_EQ(o.useDefaultLanguage, 0);
    EXPECT_EQ(o.selectLanguage, "1028");
    EXPECT_EQ(Parse({"list", "p.oem", "--help"}).command, Command::kHelp);
}

TEST(ToolsCommandLine, OverwriteModesAndLanguageCodes)
{
    EXPECT_EQ(ParseOverwriteMode("always"), 0);
    EXPECT_EQ(ParseOverwriteMode("newer-time"), 1);
    EXPECT_EQ(ParseOverwriteMode("newer-version"), 2);
    EXPECT_EQ(ParseOverwriteMode("3"), 3);
    EXPECT_EQ(ParseOverwriteMode("03"), -1);
    EXPECT_EQ(ParseOverwriteMode("Always"), -1);

    EXPECT_TRUE(IsValidLanguageCode("0x0404"));
    EXPECT_TRUE(IsValidLanguageCode("1033"));
    EXPECT_FALSE(IsValidLanguageCode(""));
    EXPECT_FALSE(IsValidLanguageCode("0x"));
    EXPECT_FALSE(IsValidLanguageCode("0x04g4"));
    EXPECT_FALSE(IsValidLanguageCode("12a"));
    EXPECT_FALSE(IsValidLanguageCode("1 /X"));
    EXPECT_FALSE(IsValidLanguageCode(Text(17, '1')));
}

// ---- inputs the format cannot carry ----

TEST(ToolsPlan, NamesMustBeBareAndFitTheBuffers)
{
    EXPECT_TRUE(CheckName(Text(259, 'n'), "entry"));
    const Status tooLong = CheckName(Text(260, 'n'), "entry");
    EXPECT_FALSE(tooLong);
    EXPECT_NE(tooLong.Message().find("260 bytes"), std::string::npos) << tooLong.Message();
    for (const char* bad : {"", ".", "..", "a\\b", "a/b", "c:x"})
        EXPECT_FALSE(CheckName(bad, "entry")) << bad;
    EXPECT_FALSE(CheckName(std::string("a\0b", 3), "entry"));
    EXPECT_TRUE(CheckName("...x", "entry"));
    for (const char* device : {"CON", "nul.txt", "Com1", "LPT9 . "}) {
        const Status refused = CheckName(device, "entry");
        EXPECT_FALSE(refused) << device;
        EXPECT_EQ(refused.Code(), kErrorInvalidName) << device;
        EXPECT_NE(refused.Message().find("device name"), std::string::npos) << refused.Message();
    }
    EXPECT_TRUE(CheckName("CONFIG.INI", "entry"));
}

TEST(ToolsPlan, DuplicatesInAGroupAreRefusedIgnoringCase)
{
    PackagePlan plan;
    ASSERT_TRUE(plan.AddFile("Bin", "Tool.exe", "x\\Tool.exe", 10));
    const Status duplicate = plan.AddFile("Bin", "TOOL.EXE", "y\\TOOL.EXE", 10);
    EXPECT_FALSE(duplicate);
    EXPECT_NE(duplicate.Message().find("x\\Tool.exe"), std::string::npos) << duplicate.Message();
    EXPECT_TRUE(plan.AddFile("bin", "TOOL.EXE", "y\\TOOL.EXE", 10));  // groups compare exactly
    EXPECT_EQ(plan.EntryCount(), 2u);
    EXPECT_EQ(plan.Groups().size(), 2u);
    EXPECT_EQ(plan.TotalBytes(), 20u);
}

TEST(ToolsPlan, SizeLimitsOfTheFormat)
{
    PackagePlan plan;
    const Status huge = plan.AddFile("G", "huge.bin", "huge.bin", 0x100000000ull);
    EXPECT_FALSE(huge);
    EXPECT_NE(huge.Message().find("4 GiB"), std::string::npos) << huge.Message();
    EXPECT_TRUE(plan.AddFile("G", "big.bin", "big.bin", 0xFFFFFFFFull));
    // One entry of 4 GiB - 1 plus the records cannot stay below 4 GiB.
    EXPECT_GT(plan.UncompressedImageSize(), kMaxPackageSize);
    MappedFile image;
    WriteStats stats;
    const Status built = BuildPackageImage(plan, false, image, nullptr, &stats);
    EXPECT_FALSE(built);
    EXPECT_NE(built.Message().find("4 GiB"), std::string::npos) << built.Message();
    EXPECT_TRUE(image.IsClosed());
}

TEST(ToolsPlan, AtMost65535Entries)
{
    PackagePlan plan;
    for (uint32_t i = 0; i < 65535; ++i)
        ASSERT_TRUE(plan.AddFile("G" + std::to_string(i % 7), "f" + std::to_string(i), "p", 0)) << i;
    const Status oneMore = plan.AddFile("H", "one-more", "p", 0);
    EXPECT_FALSE(oneMore);
    EXPECT_NE(oneMore.Message().find("65535"), std::string::npos) << oneMore.Message();
    EXPECT_EQ(plan.EntryCount(), 65535u);
}

TEST(ToolsPlan, SizeMatchesAHandCountedContainer)
{
    // One group "Tools" with "a.txt" of 5 bytes: 18 + 15 + 45 + 5 = 83 bytes.
    PackagePlan plan;
    ASSERT_TRUE(plan.AddContent("Tools", "a.txt", "hello"));
    EXPECT_EQ(plan.UncompressedImageSize(), 83u);
    std::vector<uint8_t> image = BuildImage(plan, false);
    EXPECT_EQ(image.size(), 83u);
    ASSERT_TRUE(plan.AddContent("Tools", "b", ""));
    ASSERT_TRUE(plan.AddContent("Other", "c", "xyz"));
    EXPECT_EQ(plan.UncompressedImageSize(), BuildImage(plan, false).size());
}

// ---- building and reading images ----

TEST(ToolsImage, CompressedEntriesDecodeBackAndOnlyWhenSmaller)
{
    PackagePlan plan;
    std::string error;
    std::string repetitive;
    for (int i = 0; i < 2000; ++i)
        repetitive += "line " + std::to_string(i % 17) + "\r\n";
    std::string noise = PatternBytes(5000, 9);
    ASSERT_TRUE(plan.AddContent("G", "text.txt", repetitive));
    ASSERT_TRUE(plan.AddContent("G", "noise.bin", noise));
    ASSERT_TRUE(plan.AddContent("G", "empty", ""));
    WriteStats stats;
    std::vector<uint8_t> image = BuildImage(plan, true, &stats);
    EXPECT_EQ(stats.entries, 3u);
    EXPECT_EQ(stats.compressedEntries, 1u);

    PackageListing listing;
    ASSERT_TRUE(ReadPackageListing(View(image), true, &listing, &error)) << error;
    const ListedEntry* text = FindListed(listing, "G", "text.txt");
    const ListedEntry* random = FindListed(listing, "G", "noise.bin");
    ASSERT_NE(text, nullptr);
    ASSERT_NE(random, nullptr);
    EXPECT_NE(text->record.compressedSize, 0u);
    EXPECT_LT(text->record.compressedSize, repetitive.size());
    EXPECT_EQ(text->record.uncompressedSize, repetitive.size());
    EXPECT_EQ(random->record.compressedSize, 0u);  // would not shrink
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(DecodeEntry(View(image), text->record, &decoded));
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), repetitive);
    EXPECT_EQ(text->record.attributes, kFileAttributeArchive);

    VerifyReport report;
    VerifyPackageImage(View(image), &report);
    EXPECT_TRUE(report.faults.empty());
    EXPECT_EQ(report.decodedEntries, 1u);
}

TEST(ToolsImage, FileEntriesKeepContentTimesAndAttributes)
{
    ScratchFolder dir;
    std::string path = dir / "data.bin";
    std::string content = PatternBytes(3000, 4);
    ASSERT_TRUE(WriteBytes(path, content));
    std::string empty = dir / "nothing.txt";
    ASSERT_TRUE(WriteBytes(empty, ""));
    FILETIME when = {0x12345678, 0x01D00000};
    for (const std::string& p : {path, empty}) {
        HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(h, &when, &when, &when));
        CloseHandle(h);
    }
    ASSERT_TRUE(SetFileAttributesA(empty.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));

    PackagePlan plan;
    std::string error;
    ASSERT_TRUE(plan.AddFile("G", "data.bin", path, content.size()));
    ASSERT_TRUE(plan.AddFile("G", "nothing.txt", empty, 0));
    std::vector<uint8_t> image = BuildImage(plan, false);
    PackageListing listing;
    ASSERT_TRUE(ReadPackageListing(View(image), true, &listing, &error)) << error;
    for (const char* name : {"data.bin", "nothing.txt"}) {
        const ListedEntry* e = FindListed(listing, "G", name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(e->record.lastWriteTime.lowDateTime, when.dwLowDateTime) << name;
        EXPECT_EQ(e->record.lastWriteTime.highDateTime, when.dwHighDateTime) << name;
    }
    const ListedEntry* e = FindListed(listing, "G", "nothing.txt");
    EXPECT_EQ(e->record.uncompressedSize, 0u);
    EXPECT_EQ(e->record.attributes & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
    std::vector<uint8_t> data;
    ASSERT_TRUE(DecodeEntry(View(image), FindListed(listing, "G", "data.bin")->record, &data));
    EXPECT_EQ(std::string(data.begin(), data.end()), content);
    SetFileAttributesA(empty.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(ToolsImage, VerifyFindsEveryKindOfDamage)
{
    PackagePlan plan;
    std::string error;
    std::string repetitive(4000, 'a');
    ASSERT_TRUE(plan.AddContent("G", "a.txt", repetitive));
    ASSERT_TRUE(plan.AddContent("G", "b.txt", "plain bytes"));
    const std::vector<uint8_t> good = BuildImage(plan, true);
    PackageListing listing;
    ASSERT_TRUE(ReadPackageListing(View(good), true, &listing, &error));
    const EntryRecord compressed = FindListed(listing, "G", "a.txt")->record;
    ASSERT_NE(compressed.compressedSize, 0u);

    auto faults = [](const std::vector<uint8_t>& image) {
        VerifyReport report;
        VerifyPackageImage(ByteView(image.data(), static_cast<uint32_t>(image.size())), &report);
        return report.faults;
    };
    EXPECT_TRUE(faults(good).empty());

    std::vector<uint8_t> bad = good;
    bad[1] = 'X';
    ASSERT_EQ(faults(bad).size(), 1u);
    EXPECT_NE(faults(bad)[0].find("BOEM"), std::string::npos);

    bad = good;
    bad[4] = 0x01;  // version 0x0201
    EXPECT_EQ(faults(bad).size(), 1u);
    EXPECT_TRUE(ReadPackageListing(View(bad), false, &listing, &error));  // loadable all the same

    bad = good;
    bad[6] = 7;  // entry total
    ASSERT_EQ(faults(bad).size(), 1u);
    EXPECT_NE(faults(bad)[0].find("counts 7 entries"), std::string::npos);

    bad = good;
    bad[compressed.dataOffset + compressed.dataLength / 2] ^= 0x5A;
    ASSERT_EQ(faults(bad).size(), 1u);
    EXPECT_NE(faults(bad)[0].find("a.txt"), std::string::npos);
    std::vector<uint8_t> decoded;
    EXPECT_FALSE(DecodeEntry(View(bad), compressed, &decoded));

    // Every truncation is reported, none reads outside the bytes.
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        std::vector<uint8_t> shortImage(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_FALSE(faults(shortImage).empty()) << cut;
    }
}

TEST(ToolsImage, ExtractionRefusesGroupNamesThatLeaveTheFolder)
{
    // The container library itself accepts any group name; a package from
    // elsewhere may carry one that is a path.
    MappedFile block;
    ASSERT_TRUE(block.CreateMemory(nullptr, 4, 4));
    block.Write("data", 4);
    PackageDirectory directory;
    auto* evil = new EntryBuffer;
    auto* fine = new EntryBuffer;
    ASSERT_TRUE(BuildEntry(block, "x.txt", *evil, 0));
    ASSERT_TRUE(BuildEntry(block, "y.txt", *fine, 0));
    ASSERT_TRUE(directory.AddEntry(evil, "..", "x.txt", 1));
    ASSERT_TRUE(directory.AddEntry(fine, "Good", "y.txt", 1));
    MappedFile image;
    ASSERT_TRUE(BuildContainerImage(directory, image));

    ScratchFolder dir;
    ExtractRequest request;
    request.destination = dir / "out";
    ExtractOutcome outcome;
    const Status extracted = ExtractPackage(ByteView(image.GetData(), image.GetSize()), request, &outcome, nullptr);
    ASSERT_TRUE(extracted) << extracted.Message();
    EXPECT_EQ(outcome.written, 1u);
    ASSERT_EQ(outcome.errors.size(), 1u);
    EXPECT_NE(outcome.errors[0].find("'..'"), std::string::npos) << outcome.errors[0];
    EXPECT_FALSE(FileExists(dir / "x.txt"));
    EXPECT_TRUE(FileExists(dir / "out\\Good\\y.txt"));
}

TEST(ToolsImage, ExtractionRefusesDeviceNames)
{
    // A package from elsewhere may name an entry or a group after a device.
    MappedFile block;
    ASSERT_TRUE(block.CreateMemory(nullptr, 4, 4));
    block.Write("data", 4);
    PackageDirectory directory;
    const char* names[][2] = {{"Good", "NUL.txt"}, {"Good", "com1"}, {"Good", "fine.txt"}, {"aux", "a.txt"}};
    for (const auto& name : names) {
        auto* entry = new EntryBuffer;
        ASSERT_TRUE(BuildEntry(block, name[1], *entry, 0));
        ASSERT_TRUE(directory.AddEntry(entry, name[0], name[1], 1));
    }
    MappedFile image;
    ASSERT_TRUE(BuildContainerImage(directory, image));

    ScratchFolder dir;
    ExtractRequest request;
    request.destination = dir / "out";
    ExtractOutcome outcome;
    const Status extracted = ExtractPackage(ByteView(image.GetData(), image.GetSize()), request, &outcome, nullptr);
    ASSERT_TRUE(extracted) << extracted.Message();
    EXPECT_EQ(outcome.written, 1u);
    ASSERT_EQ(outcome.errors.size(), 3u);
    std::string errors;
    for (const std::string& e : outcome.errors)
        errors += e + "\n";
    EXPECT_NE(errors.find("NUL.txt: cannot write"), std::string::npos) << errors;
    EXPECT_NE(errors.find("com1: cannot write"), std::string::npos) << errors;
    EXPECT_NE(errors.find("group 'aux'"), std::string::npos) << errors;
    EXPECT_EQ(ListFolder(dir / "out\\Good"), std::vector<std::string>{"fine.txt"});
    EXPECT_EQ(ListFolder(dir / "out"), std::vector<std::string>{"Good"});
}

// ---- texts ----

TEST(ToolsTexts, DefaultLanguageSettingsAreTheShippedBytes)
{
    const std::string shipped = "[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n";
    EXPECT_EQ(shipped.size(), 52u);
    EXPECT_EQ(std::string(kDefaultLanguageIni, kDefaultLanguageIniSize), shipped);
    EXPECT_EQ(LanguageIniText(1, "0x0404"), shipped);
}

TEST(ToolsTexts, TimesAttributesAndJson)
{
    // 2000-01-01 00:00:00 UTC and a leap day.
    uint64_t y2k = 125911584000000000ull;
    EXPECT_EQ(FormatFileTime({uint32_t(y2k), uint32_t(y2k >> 32)}), "2000-01-01 00:00:00");
    uint64_t leap = y2k + (uint64_t(24 * 365 + 6 + 31 + 28) * 86400 + 12 * 3600 + 34 * 60 + 56) * 10000000ull;
    EXPECT_EQ(FormatFileTime({uint32_t(leap), uint32_t(leap >> 32)}), "2024-02-29 12:34:56");
    EXPECT_EQ(FormatFileTime({0, 0}), "-");
    EXPECT_EQ(FormatFileTime({1, 0}), "1601-01-01 00:00:00");

    EXPECT_EQ(FormatAttributes(0x21), "R--A");
    EXPECT_EQ(FormatAttributes(0x06), "-HS-");

    EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    EXPECT_EQ(JsonString("\xE4\xB8\xAD"), "\"\xE4\xB8\xAD\"");            // valid UTF-8 kept
    EXPECT_EQ(JsonString("\xC4\x41"), "\"\xEF\xBF\xBD" "A\"");             // broken sequence replaced
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // surrogate
}
