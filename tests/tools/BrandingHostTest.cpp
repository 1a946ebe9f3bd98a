// The identity writers natively under the sanitizers: version block, icon file, string block, UTF-8, options, manifest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IconFile.h"
#include "LauncherBranding.h"
#include "LauncherManifest.h"
#include "StringTableBlock.h"
#include "Utf16Text.h"
#include "VersionResource.h"

namespace {

ByteView View(const std::vector<uint8_t>& bytes) { return ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())); }

void Put16(std::vector<uint8_t>* out, uint16_t value)
{
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t value)
{
    Put16(out, static_cast<uint16_t>(value));
    Put16(out, static_cast<uint16_t>(value >> 16));
}
void Align(std::vector<uint8_t>* out) { out->resize((out->size() + 3) & ~size_t(3), 0); }

// One entry in the layout windres writes: header, key, padding, value, children each on a 4-byte boundary.
std::vector<uint8_t> Entry(const std::u16string& key, uint16_t type, uint16_t valueLength,
                           const std::vector<uint8_t>& value, const std::vector<std::vector<uint8_t>>& children)
{
    std::vector<uint8_t> out;
    Put16(&out, 0);
    Put16(&out, valueLength);
    Put16(&out, type);
    for (char16_t c : key)
        Put16(&out, c);
    Put16(&out, 0);
    Align(&out);
    out.insert(out.end(), value.begin(), value.end());
    for (const auto& child : children) {
        Align(&out);
        out.insert(out.end(), child.begin(), child.end());
    }
    out[0] = static_cast<uint8_t>(out.size());
    out[1] = static_cast<uint8_t>(out.size() >> 8);
    return out;
}

std::vector<uint8_t> Text(const std::u16string& text)
{
    std::vector<uint8_t> out;
    for (char16_t c : text)
        Put16(&out, c);
    Put16(&out, 0);
    return out;
}

std::vector<uint8_t> StringEntry(const std::u16string& key, const std::u16string& value)
{
    return Entry(key, 1, static_cast<uint16_t>(value.size() + 1), Text(value), {});
}

// A version block of file version 2.0.0.0 with strings, as a resource compiler lays it out.
std::vector<uint8_t> SampleBlock(const std::vector<std::vector<uint8_t>>& strings)
{
    std::vector<uint8_t> fixed;
    Put32(&fixed, 0xFEEF04BD);
    Put32(&fixed, 0x00010000);
    for (int i = 0; i < 2; ++i) {
        Put32(&fixed, 0x00020000);
        Put32(&fixed, 0);
    }
    fixed.resize(52, 0);
    std::vector<uint8_t> translation;
    Put32(&translation, 0x04B00409);
    return Entry(u"VS_VERSION_INFO", 0, 52, fixed,
                 {Entry(u"StringFileInfo", 1, 0, {}, {Entry(u"040904b0", 1, 0, {}, strings)}),
                  Entry(u"VarFileInfo", 1, 0, {}, {Entry(u"Translation", 0, 4, translation, {})})});
}

}  // namespace

TEST(BrandingVersionBlock, ReadsWritesBackUnchangedAndEditsInPlace)
{
    const std::vector<uint8_t> block =
        SampleBlock({StringEntry(u"CompanyName", u""), StringEntry(u"FileDescription", u"Setup.exe"),
                     StringEntry(u"ProductName", u"Install Program")});
    VersionResource version;
    ASSERT_TRUE(VersionResource::Parse(View(block), &version));
    std::vector<uint8_t> again;
    ASSERT_TRUE(version.Encode(&again));
    EXPECT_EQ(again, block);
    EXPECT_EQ(VersionNumberText(version.FileVersion()), "2.0.0.0");
    EXPECT_EQ(version.StringTableKey(), u"040904b0");

    // An existing key keeps its place, a new one goes last; the versions land in the fixed block.
    ASSERT_TRUE(version.SetString(u"FileDescription", u"Contoso \u5B89\u88C5"));
    ASSERT_TRUE(version.SetString(u"LegalCopyright", u"\u00A9 2026"));
    version.SetFileVersion({5, 2, 65535, 7});
    version.SetProductVersion({5, 2, 0, 0});
    ASSERT_TRUE(version.Encode(&again));
    std::vector<uint8_t> expected = SampleBlock(
        {StringEntry(u"CompanyName", u""), StringEntry(u"FileDescription", u"Contoso \u5B89\u88C5"),
         StringEntry(u"ProductName", u"Install Program"), StringEntry(u"LegalCopyright", u"\u00A9 2026")});
    ASSERT_EQ(again.size(), expected.size());
    VersionResource reread;
    ASSERT_TRUE(VersionResource::Parse(View(again), &reread));
    EXPECT_EQ(VersionNumberText(reread.FileVersion()), "5.2.65535.7");
    EXPECT_EQ(VersionNumberText(reread.ProductVersion()), "5.2.0.0");
    const auto strings = reread.Strings();
    ASSERT_EQ(strings.size(), 4u);
    EXPECT_EQ(strings[1].first, u"FileDescription");
    EXPECT_EQ(strings[1].second, u"Contoso \u5B89\u88C5");
    EXPECT_EQ(strings[3].first, u"LegalCopyright");
}

TEST(BrandingVersionBlock, RefusesDamagedBlocksAndTextBeyondItsLengthFields)
{
    const std::vector<uint8_t> block = SampleBlock({StringEntry(u"ProductName", u"Install Program")});
    VersionResource version;
    // Cut anywhere, the block's length reaches past its bytes.
    for (size_t size : {size_t(0), size_t(5), size_t(40), block.size() - 1}) {
        const std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(size));
        EXPECT_FALSE(VersionResource::Parse(View(cut), &version)) << size;
    }
    // A string whose value claims more than its entry holds.
    std::vector<uint8_t> bad = block;
    const size_t value = bad.size() - StringEntry(u"ProductName", u"Install Program").size() -
                         (Entry(u"VarFileInfo", 1, 0, {}, {Entry(u"Translation", 0, 4, {0, 0, 0, 0}, {})}).size());
    bad[value + 2] = 0xFF;
    const Status refused = VersionResource::Parse(View(bad), &version);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Code(), kErrorInvalidData);
    // Another root key is no version block.
    std::vector<uint8_t> other = block;
    other[6] = 'X';
    EXPECT_FALSE(VersionResource::Parse(View(other), &version));

    ASSERT_TRUE(VersionResource::Parse(View(block), &version));
    // 32,760 units fit a string's value length, not its entry's 65,535 bytes.
    ASSERT_TRUE(version.SetString(u"Comments", std::u16string(32760, u'x')));
    std::vector<uint8_t> out;
    const Status tooLong = version.Encode(&out);
    EXPECT_FALSE(tooLong);
    EXPECT_NE(tooLong.Message().find("65535"), std::string::npos) << tooLong.Message();
    EXPECT_FALSE(version.SetString(u"Comments", std::u16string(70000, u'x')));
}

TEST(BrandingIconFile, KeepsEveryImageAndRefusesWhatIsNoIcon)
{
    // Two images: a small "BMP" and a "PNG" of 256x256 (width and height 0).
    const std::string png = "\x89PNG\r\n\x1a\n-image-bytes";
    std::vector<uint8_t> file;
    Put16(&file, 0);
    Put16(&file, 1);
    Put16(&file, 2);
    const uint32_t first = 6 + 2 * 16;
    const uint8_t sizes[2][2] = {{16, 16}, {0, 0}};
    const uint32_t lengths[2] = {40, static_cast<uint32_t>(png.size())};
    uint32_t offset = first;
    for (int i = 0; i < 2; ++i) {
        file.push_back(sizes[i][0]);
        file.push_back(sizes[i][1]);
        file.push_back(0);
        file.push_back(0);
        Put16(&file, 1);
        Put16(&file, 32);
        Put32(&file, lengths[i]);
        Put32(&file, offset);
        offset += lengths[i];
    }
    file.insert(file.end(), 40, 0x5A);
    file.insert(file.end(), png.begin(), png.end());

    IconFile icon;
    ASSERT_TRUE(IconFile::Parse(View(file), &icon));
    ASSERT_EQ(icon.ImageCount(), 2u);
    EXPECT_EQ(icon.ImageBytes(0), std::vector<uint8_t>(40, 0x5A));
    EXPECT_EQ(std::string(icon.ImageBytes(1).begin(), icon.ImageBytes(1).end()), png);
    std::vector<IconImageInfo> images;
    std::vector<uint16_t> ids;
    ASSERT_TRUE(IconFile::ReadGroup(View(icon.GroupResource({3, 9})), &images, &ids));
    EXPECT_EQ(ids, (std::vector<uint16_t>{3, 9}));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].width, 16);
    EXPECT_EQ(images[1].width, 0);
    EXPECT_EQ(images[1].size, png.size());

    const auto refusal = [&](std::vector<uint8_t> bytes) {
        IconFile ignored;
        const Status status = IconFile::Parse(View(bytes), &ignored);
        EXPECT_EQ(status.Code(), kErrorInvalidData);
        return status.Message();
    };
    std::vector<uint8_t> cursor = file;
    cursor[2] = 2;
    EXPECT_NE(refusal(cursor).find("not an icon file"), std::string::npos);
    EXPECT_NE(refusal(std::vector<uint8_t>(file.begin(), file.begin() + 4)).find("shorter than its header"),
              std::string::npos);
    EXPECT_NE(refusal(std::vector<uint8_t>(file.begin(), file.begin() + 20)).find("cut short"), std::string::npos);
    std::vector<uint8_t> none = file;
    none[4] = 0;
    EXPECT_NE(refusal(none).find("no images"), std::string::npos);
    std::vector<uint8_t> many = file;
    many[4] = 0;
    many[5] = 1;  // 256 images
    EXPECT_NE(refusal(many).find("more than 255"), std::string::npos);
    // The last image one byte past the end; an offset whose sum with the size wraps 32 bits.
    EXPECT_NE(refusal(std::vector<uint8_t>(file.begin(), file.end() - 1)).find("image 2"), std::string::npos);
    std::vector<uint8_t> wrap = file;
    for (int b = 0; b < 4; ++b)
        wrap[6 + 16 + 12 + b] = 0xFF;
    EXPECT_NE(refusal(wrap).find("reaches outside the file"), std::string::npos);
    std::vector<uint8_t> empty = file;
    for (int b = 0; b < 4; ++b)
        empty[6 + 8 + b] = 0;
    EXPECT_NE(refusal(empty).find("0 bytes"), std::string::npos);
}

TEST(BrandingStringBlock, ReplacesOneStringAndKeepsTheOthers)
{
    StringTableBlock block;
    std::vector<uint8_t> bytes(32, 0);  // sixteen empty strings
    bytes[12] = 2;                      // string 6: two units
    bytes.insert(bytes.begin() + 14, {'O', 0, 'K', 0});
    ASSERT_TRUE(StringTableBlock::Parse(View(bytes), &block));
    EXPECT_EQ(block.String(6), u"OK");
    EXPECT_EQ(block.Encode(), bytes);
    EXPECT_EQ(StringTableBlock::BlockOf(102), 7);
    EXPECT_EQ(StringTableBlock::IndexOf(102), 6u);
    block.SetString(6, u"\u6B63\u5728");
    StringTableBlock reread;
    ASSERT_TRUE(StringTableBlock::Parse(View(block.Encode()), &reread));
    EXPECT_EQ(reread.String(6), u"\u6B63\u5728");
    EXPECT_EQ(reread.String(5), u"");
    bytes.resize(bytes.size() - 3);
    EXPECT_FALSE(StringTableBlock::Parse(View(bytes), &block));
}

TEST(BrandingText, Utf8IsCheckedStrictlyAndRoundTrips)
{
    std::u16string units;
    ASSERT_TRUE(Utf8ToUtf16("A\xC2\xA9\xE5\xAE\x89\xF0\x9F\x98\x80", &units));
    EXPECT_EQ(units, u"A\u00A9\u5B89\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(units), "A\xC2\xA9\xE5\xAE\x89\xF0\x9F\x98\x80");
    for (const char* bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE5\xAE",
                            "\xFF", "\xE5\x41\x89"})
        EXPECT_FALSE(Utf8ToUtf16(bad, &units)) << bad;
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(BrandingOptions, VersionsLevelsAndTheLabelLimit)
{
    VersionOption version;
    ASSERT_TRUE(ParseVersionOption("--product-version", "5.2", &version));
    EXPECT_EQ(version.text, "5.2");
    EXPECT_EQ(VersionNumberText(version.number), "5.2.0.0");
    ASSERT_TRUE(ParseVersionOption("--file-version", "65535.0.07.1", &version));
    EXPECT_EQ(VersionNumberText(version.number), "65535.0.7.1");
    EXPECT_EQ(version.text, "65535.0.7.1");
    for (const char* bad : {"", "1.2.3.4.5", "65536", "1..2", "1.2.", "v1", "1.-2", "99999999999"}) {
        const Status refused = ParseVersionOption("--file-version", bad, &version);
        EXPECT_EQ(refused.Code(), kErrorInvalidParameter) << bad;
        EXPECT_EQ(refused.Message().rfind("--file-version '" + std::string(bad) + "': ", 0), 0u) << refused.Message();
    }

    ExecutionLevel level = ExecutionLevel::kRequireAdministrator;
    ASSERT_TRUE(ParseExecutionLevel("asInvoker", &level));
    EXPECT_EQ(level, ExecutionLevel::kAsInvoker);
    EXPECT_FALSE(ParseExecutionLevel("asinvoker", &level));

    std::string longest;
    for (size_t i = 0; i < kMaxProgressTextLength; ++i)
        longest += "\xE5\xAE\x89";
    EXPECT_TRUE(CheckProgressText(longest));
    EXPECT_TRUE(CheckProgressText(std::string(kMaxProgressTextLength, 'W')));
    EXPECT_FALSE(CheckProgressText(longest + "x"));
    EXPECT_FALSE(CheckProgressText("two\nlines"));
    EXPECT_FALSE(CheckProgressText("\xE5\xAE"));
    EXPECT_FALSE(CheckUtf8Option("--company", "\xC3("));
}

TEST(BrandingManifest, OneTemplateBothArchitecturesAndOnlyTheLevelChanges)
{
    const std::string x86 = LauncherManifestText(LauncherArchitecture::kX86, ExecutionLevel::kRequireAdministrator);
    const std::string x64 = LauncherManifestText(LauncherArchitecture::kX64, ExecutionLevel::kRequireAdministrator);
    EXPECT_NE(x86.find("processorArchitecture=\"x86\""), std::string::npos);
    EXPECT_NE(x64.find("processorArchitecture=\"amd64\""), std::string::npos);
    EXPECT_EQ(x64.find(kManifestArchitecturePlaceholder), std::string::npos);
    for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(x64.find(os), std::string::npos) << os;

    ExecutionLevel level = ExecutionLevel::kRequireAdministrator;
    std::string lowered = x64;
    ASSERT_TRUE(SetManifestExecutionLevel(&lowered, ExecutionLevel::kAsInvoker));
    const size_t at = x64.find("requireAdministrator");
    EXPECT_EQ(lowered, x64.substr(0, at) + "asInvoker" + x64.substr(at + 20));
    ASSERT_TRUE(CheckLauncherManifest(lowered, LauncherArchitecture::kX64, &level));
    EXPECT_EQ(level, ExecutionLevel::kAsInvoker);

    // The other architecture's, a second level, an unknown level, anything else changed.
    EXPECT_FALSE(CheckLauncherManifest(x86, LauncherArchitecture::kX64, &level));
    std::string twice = x64;
    twice.insert(twice.find("</requestedPrivileges>"), "<requestedExecutionLevel level=\"asInvoker\"/>");
    EXPECT_NE(CheckLauncherManifest(twice, LauncherArchitecture::kX64, &level).Message().find("more than one"),
              std::string::npos);
    std::string unknown = x64;
    unknown.replace(at, 20, "root");
    EXPECT_NE(CheckLauncherManifest(unknown, LauncherArchitecture::kX64, &level).Message().find("unknown"),
              std::string::npos);
    std::string edited = x64;
    edited.replace(edited.find("Install Program"), 7, "Uninstall");
    const Status differs = CheckLauncherManifest(edited, LauncherArchitecture::kX64, &level);
    EXPECT_NE(differs.Message().find("differs from the template at line 4"), std::string::npos) << differs.Message();
}
