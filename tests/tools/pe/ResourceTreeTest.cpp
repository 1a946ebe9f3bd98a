// ResourceTree: reading named and numbered entries, replacing resources, and refusing damaged directories.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>

#include "PeFormat.h"
#include "PeImage.h"
#include "PeTestImage.h"
#include "ResourceTree.h"

using namespace petest;

namespace {

std::string DataOf(const PeImage& image, const ResourceData* data)
{
    if (data == nullptr)
        return "<missing>";
    const uint8_t* bytes = nullptr;
    if (!image.Bytes().Bytes(data->imageOffset, static_cast<uint32_t>(data->size), &bytes))
        return "<outside>";
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(data->size));
}

Status ReadTree(const std::vector<uint8_t>& bytes, ResourceTree* tree)
{
    PeImage image;
    Status s = PeImage::Parse(bytes, &image);
    return s ? ResourceTree::Read(image, tree) : s;
}

}  // namespace

TEST(ResourceTree, ReadsEveryResourceWithItsIdsCodePageAndBytes)
{
    std::vector<Resource> resources = LauncherResources();
    // An empty name is a name too.
    resources.push_back({ResourceId::Name(u""), ResourceId::Number(2), 0, "unnamed"});
    Image built = BuildImage(LauncherLike(resources, true));
    PeImage image;
    ASSERT_TRUE(PeImage::Parse(built.bytes, &image));
    ResourceTree tree;
    Status s = ResourceTree::Read(image, &tree);
    ASSERT_TRUE(s) << s.Message();
    EXPECT_EQ(tree.Count(), resources.size());
    for (const Resource& r : resources) {
        const ResourceData* data = tree.Find(r.type, r.name, r.language);
        EXPECT_EQ(DataOf(image, data), r.bytes) << r.type.Describe() << "/" << r.name.Describe();
        if (data) {
            EXPECT_EQ(data->codePage, r.codePage);
        }
    }
    // Names come before numbers, as the loader's search needs.
    ASSERT_GE(tree.Types().size(), 2u);
    EXPECT_EQ(tree.Types().begin()->first.Describe(), "");
    EXPECT_EQ(std::next(tree.Types().begin())->first.Describe(), "D\\u00C4T\\u0391");
    EXPECT_EQ(tree.Types().rbegin()->first, ResourceId::Number(24));
}

TEST(ResourceTree, ReplaceDropsTheNameUnderEveryLanguageAndAnyCase)
{
    std::vector<Resource> resources = LauncherResources();
    resources.push_back({ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 1033, "old us"});
    resources.push_back({ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("Default"), 0, "old neutral"});
    resources.push_back({ResourceId::AsciiName("oemdata"), ResourceId::AsciiName("default"), 7, "old lower"});
    resources.push_back({ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("LANGUAGE_INI"), 0, "ini"});
    ResourceTree tree;
    ASSERT_TRUE(ReadTree(BuildImage(LauncherLike(resources, false)).bytes, &tree));
    const size_t before = tree.Count();

    MemorySource package(ByteView(reinterpret_cast<const uint8_t*>("new"), 3));
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, &package);
    EXPECT_EQ(tree.Count(), before - 2);
    const ResourceData* data = tree.Find(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->source, &package);
    EXPECT_EQ(data->size, 3u);
    // The lower-case type lost its only name, so it is gone; LANGUAGE_INI stays.
    EXPECT_EQ(tree.Types().count(ResourceId::AsciiName("oemdata")), 0u);
    EXPECT_NE(tree.Find(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("LANGUAGE_INI"), 0), nullptr);
    EXPECT_EQ(tree.Remove(ResourceId::AsciiName("OemData"), ResourceId::AsciiName("language_ini")), 1u);
    EXPECT_EQ(tree.Remove(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("LANGUAGE_INI")), 0u);
}

TEST(ResourceTree, RefusesDamagedDirectoriesSayingWhatAndWhere)
{
    std::vector<Resource> resources = {
        {ResourceId::Number(5), ResourceId::Number(101), 0x804, "dialog"},
        {ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, "package"},
    };
    const Image good = BuildImage(LauncherLike(resources, false));
    const uint32_t root = good.sectionFileOffsets[1];
    // Depth-first layout: root (2 entries) at +0, type #5 at +0x20, its name at +0x38,
    // its data entry at +0x50, type OEMDATA at +0x60, name at +0x78, data entry at +0x90.
    const uint32_t rootEntry1 = root + 16, rootEntry2 = root + 24;
    const uint32_t dialogLanguage = root + 0x38 + 16;
    const uint32_t dialogData = root + 0x50;
    const uint32_t resourceDirectory = good.optionalHeader + 96 + 16;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>*)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"a type pointing back at the root", [&](std::vector<uint8_t>* b) { PutU32(b, rootEntry1 + 4, 0x80000000u); },
         "the resource table at +0x0 (RVA 0x2000) is reached twice (the resource directories loop)"},
        {"two types sharing a table", [&](std::vector<uint8_t>* b) { PutU32(b, rootEntry2 + 4, 0x80000020u); },
         "the resource table at +0x20 (RVA 0x2020) is reached twice"},
        {"a table outside", [&](std::vector<uint8_t>* b) { PutU32(b, rootEntry1 + 4, 0x80010000u); },
         "the resource table at +0x10000 (RVA 0x12000) reaches outside the resource data (207 bytes)"},
        {"entry counts too large", [&](std::vector<uint8_t>* b) { PutU16(b, root + 14, 0x4000); },
         "the 16385 entries of the resource table at +0x0 (RVA 0x2000) reach outside"},
        {"a name outside", [&](std::vector<uint8_t>* b) { PutU32(b, rootEntry2, 0x80001000u); },
         "entry 2 of the resource table at +0x0 (RVA 0x2000): its name at +0x1000 reaches outside"},
        {"an id of 17 bits", [&](std::vector<uint8_t>* b) { PutU32(b, rootEntry1, 0x10005); },
         "entry 1 of the resource table at +0x0 (RVA 0x2000) has id 0x10005"},
        {"a type pointing at data", [&](std::vector<uint8_t>* b) { PutU32(b, rootEntry1 + 4, 0x50); },
         "(type #5) points at data, not at a table"},
        {"a language pointing at a table", [&](std::vector<uint8_t>* b) { PutU32(b, dialogLanguage + 4, 0x80000020u); },
         "(language #2052 of #5/#101) points at a table, not at data"},
        {"a data entry outside", [&](std::vector<uint8_t>* b) { PutU32(b, dialogLanguage + 4, 0x1F8); },
         "resource #5/#101/#2052: its data entry at +0x1F8 reaches outside"},
        {"data outside the sections", [&](std::vector<uint8_t>* b) { PutU32(b, dialogData, 0x9000); },
         "resource #5/#101/#2052: its data at RVA 0x9000 (6 bytes) is not inside one section's file data"},
        {"data running past its section", [&](std::vector<uint8_t>* b) { PutU32(b, dialogData + 4, 0x1000); },
         "its data at RVA 0x20C0 (4096 bytes) is not inside"},
        {"the same type twice", [&](std::vector<uint8_t>* b) { PutU32(b, rootEntry2, 5); },
         "the resource table at +0x0 (RVA 0x2000) lists type #5 twice"},
        {"the directory in no section", [&](std::vector<uint8_t>* b) { PutU32(b, resourceDirectory, 0x9000); },
         "the resource directory at RVA 0x9000 lies in no section"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good.bytes;
        c.damage(&bytes);
        ResourceTree tree;
        Status s = ReadTree(bytes, &tree);
        EXPECT_EQ(s.Code(), kErrorBadExeFormat) << c.what;
        EXPECT_NE(s.Message().find(c.message), std::string::npos) << c.what << ": " << s.Message();
    }
    ResourceTree tree;
    EXPECT_TRUE(ReadTree(good.bytes, &tree));
}
