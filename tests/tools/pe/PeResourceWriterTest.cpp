// PeResourceWriter: stamped images keep every resource and byte, grow in place or move, stream, and refuse what won't fit.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "FileRangeSource.h"
#include "FileSink.h"
#include "MemorySink.h"
#include "PeChecksum.h"
#include "PeFormat.h"
#include "PeImage.h"
#include "PeResourceWriter.h"
#include "PeTestImage.h"
#include "ResourceTree.h"

using namespace petest;

namespace {

const std::string kIni = "[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n";

std::string Pattern(size_t size, uint32_t seed)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

ByteView View(const std::string& s) { return ByteView(reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size())); }

// Every resource of an image: "type/name/language (code page)" -> bytes.
std::map<std::string, std::string> Resources(const std::vector<uint8_t>& bytes)
{
    std::map<std::string, std::string> all;
    PeImage image;
    ResourceTree tree;
    Status s = PeImage::Parse(bytes, &image);
    if (s)
        s = ResourceTree::Read(image, &tree);
    if (!s) {
        all["error"] = s.Message();
        return all;
    }
    for (const auto& type : tree.Types()) {
        for (const auto& name : type.second.names) {
            for (const auto& language : name.second.languages) {
                const uint8_t* data = nullptr;
                image.Bytes().Bytes(language.second.imageOffset, static_cast<uint32_t>(language.second.size), &data);
                all[type.first.Describe() + "/" + name.first.Describe() + "/" + std::to_string(language.first) + " (" +
                    std::to_string(language.second.codePage) + ")"] =
                    std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(language.second.size));
            }
        }
    }
    return all;
}

std::map<std::string, std::string> Expected(const std::vector<Resource>& kept, const std::string& package,
                                            const std::string& ini)
{
    std::map<std::string, std::string> all;
    for (const Resource& r : kept)
        all[r.type.Describe() + "/" + r.name.Describe() + "/" + std::to_string(r.language) + " (" +
            std::to_string(r.codePage) + ")"] = r.bytes;
    all["OEMDATA/DEFAULT/0 (0)"] = package;
    all["OEMDATA/LANGUAGE_INI/0 (0)"] = ini;
    return all;
}

// Writes package and ini into a copy of bytes, the way the launcher is stamped.
Status Stamp(const std::vector<uint8_t>& bytes, ResourceSource* package, ResourceSource* ini,
             std::vector<uint8_t>* out, PeWriteSummary* summary = nullptr)
{
    PeImage image;
    ResourceTree tree;
    Status s = PeImage::Parse(bytes, &image);
    if (s)
        s = ResourceTree::Read(image, &tree);
    if (!s)
        return s;
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, package);
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("LANGUAGE_INI"), 0, ini);
    PeResourceWriter writer;
    s = PeResourceWriter::Prepare(image, tree, &writer);
    MemorySink sink;
    if (s)
        s = writer.Write(sink);
    if (s && summary)
        *summary = writer.Summary();
    *out = sink.Take();
    return s;
}

Status Stamp(const std::vector<uint8_t>& bytes, const std::string& package, std::vector<uint8_t>* out,
             PeWriteSummary* summary = nullptr)
{
    MemorySource p(View(package)), i(View(kIni));
    return Stamp(bytes, &p, &i, out, summary);
}

// Stamp, with the program opened from the file at path (its headers read, the rest on demand).
Status StampOpened(const char* path, const std::string& package, std::vector<uint8_t>* out)
{
    PeImage image;
    ResourceTree tree;
    Status s = PeImage::Open(path, &image);
    if (s)
        s = ResourceTree::Read(image, &tree);
    if (!s)
        return s;
    MemorySource p(View(package)), i(View(kIni));
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, &p);
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("LANGUAGE_INI"), 0, &i);
    PeResourceWriter writer;
    s = PeResourceWriter::Prepare(image, tree, &writer);
    MemorySink sink;
    if (s)
        s = writer.Write(sink);
    *out = sink.Take();
    return s;
}

std::string Slice(const std::vector<uint8_t>& bytes, uint32_t offset, uint32_t length)
{
    if (offset > bytes.size() || length > bytes.size() - offset)
        return "<outside>";
    return std::string(bytes.begin() + offset, bytes.begin() + offset + length);
}

// The entries of a resource table are in the order the loader's binary search expects.
bool Sorted(const std::vector<uint8_t>& bytes, uint32_t table, uint32_t sectionStart)
{
    const uint32_t named = GetU32(bytes, table + 12) & 0xFFFF, count = named + (GetU32(bytes, table + 14) & 0xFFFF);
    std::vector<ResourceId> ids;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t field = GetU32(bytes, table + 16 + 8 * i);
        if ((field >> 31) != (i < named ? 1u : 0u))
            return false;
        if (field >> 31) {
            const uint32_t at = sectionStart + (field & 0x7FFFFFFF);
            std::u16string name;
            for (uint32_t c = 0; c < (GetU32(bytes, at) & 0xFFFF); ++c)
                name += static_cast<char16_t>(GetU32(bytes, at + 2 + 2 * c) & 0xFFFF);
            ids.push_back(ResourceId::Name(name));
        } else {
            ids.push_back(ResourceId::Number(static_cast<uint16_t>(field)));
        }
    }
    for (size_t i = 1; i < ids.size(); ++i) {
        if (!(ids[i - 1] < ids[i]))
            return false;
    }
    return true;
}

}  // namespace

TEST(PeResourceWriter, GrowsALastResourceSectionInPlaceAndMovesWhatFollows)
{
    for (bool plus : {false, true}) {
        ImageLayout shape = LauncherLike(LauncherResources(), false);
        shape.pe32Plus = plus;
        shape.overlay = "SYMBOLS and their strings";
        shape.symbolsAt = 0;
        const Image in = BuildImage(shape);
        const std::string package = Pattern(70000, 1);
        std::vector<uint8_t> out;
        PeWriteSummary summary;
        Status s = Stamp(in.bytes, package, &out, &summary);
        ASSERT_TRUE(s) << s.Message();
        EXPECT_FALSE(summary.newSection);
        EXPECT_EQ(summary.outputSize, out.size());
        EXPECT_EQ(Resources(out), Expected(LauncherResources(), package, kIni));

        PeImage image;
        ASSERT_TRUE(PeImage::Parse(out, &image));
        ASSERT_EQ(image.Sections().size(), 2u);
        const PeSection& rsrc = image.Sections()[1];
        EXPECT_EQ(rsrc.pointerToRawData, in.sectionFileOffsets[1]);
        EXPECT_EQ(rsrc.virtualSize, summary.resourceSize);
        EXPECT_EQ(rsrc.sizeOfRawData % 0x200, 0u);
        EXPECT_EQ(image.Directory(pe::kResourceDirectoryIndex).address, 0x2000u);
        EXPECT_EQ(image.Directory(pe::kResourceDirectoryIndex).size, summary.resourceSize);
        const uint32_t opt = image.OptionalHeaderOffset();
        EXPECT_EQ(GetU32(out, opt + 56), (0x2000 + summary.resourceSize + 0xFFF) / 0x1000 * 0x1000);  // SizeOfImage
        EXPECT_EQ(GetU32(out, opt + 8), rsrc.sizeOfRawData);  // SizeOfInitializedData: .rsrc only
        EXPECT_EQ(GetU32(out, opt + 64), ReferenceChecksum(out, opt + 64));
        // Headers apart from those fields, and .text, are unchanged.
        const uint32_t symbolField = 0x84 + 8;
        EXPECT_EQ(Slice(out, 0, symbolField), Slice(in.bytes, 0, symbolField));
        EXPECT_EQ(Slice(out, symbolField + 4, opt + 4 - symbolField), Slice(in.bytes, symbolField + 4, opt + 4 - symbolField));
        EXPECT_EQ(Slice(out, 0x400, 0x200), Slice(in.bytes, 0x400, 0x200));
        // The symbol table moved with the bytes after the section.
        EXPECT_EQ(image.SymbolTableOffset(), rsrc.pointerToRawData + rsrc.sizeOfRawData);
        EXPECT_EQ(Slice(out, image.SymbolTableOffset(), static_cast<uint32_t>(shape.overlay.size())), shape.overlay);
        EXPECT_EQ(out.size(), image.SymbolTableOffset() + shape.overlay.size());
        EXPECT_TRUE(Sorted(out, rsrc.pointerToRawData, rsrc.pointerToRawData));

        // Stamping the stamped program again changes nothing; a smaller package shrinks the section.
        std::vector<uint8_t> again;
        ASSERT_TRUE(Stamp(out, package, &again));
        EXPECT_TRUE(again == out);
        ASSERT_TRUE(Stamp(out, "small", &again));
        EXPECT_EQ(Resources(again), Expected(LauncherResources(), "small", kIni));
        EXPECT_LT(again.size(), out.size() - 60000);
    }
}

TEST(PeResourceWriter, MovesResourcesThatAreNotLastIntoANewLastSection)
{
    ImageLayout shape = LauncherLike(LauncherResources(), true);
    shape.overlay = "SYMBOLS";
    shape.symbolsAt = 0;
    const Image in = BuildImage(shape);
    PeImage before;
    ASSERT_TRUE(PeImage::Parse(in.bytes, &before));
    const std::string package = Pattern(5001, 2);
    std::vector<uint8_t> out;
    PeWriteSummary summary;
    Status s = Stamp(in.bytes, package, &out, &summary);
    ASSERT_TRUE(s) << s.Message();
    EXPECT_TRUE(summary.newSection);
    EXPECT_EQ(Resources(out), Expected(LauncherResources(), package, kIni));

    PeImage image;
    ASSERT_TRUE(PeImage::Parse(out, &image));
    ASSERT_EQ(image.Sections().size(), 4u);
    const PeSection& old = image.Sections()[1];
    const PeSection& reloc = image.Sections()[2];
    const PeSection& rsrc = image.Sections()[3];
    EXPECT_EQ(old.name, ".oldrsrc");
    EXPECT_EQ(rsrc.name, ".rsrc");
    EXPECT_EQ(rsrc.characteristics, 0x40000040u);
    // Every old section keeps its place and bytes; the new one follows the last.
    for (size_t i = 0; i < 3; ++i) {
        const PeSection& was = before.Sections()[i];
        const PeSection& is = image.Sections()[i];
        EXPECT_EQ(is.virtualAddress, was.virtualAddress);
        EXPECT_EQ(Slice(out, is.pointerToRawData, is.sizeOfRawData), Slice(in.bytes, was.pointerToRawData, was.sizeOfRawData));
    }
    EXPECT_EQ(image.Directory(5).address, reloc.virtualAddress);
    EXPECT_EQ(rsrc.virtualAddress, (reloc.virtualAddress + reloc.virtualSize + 0xFFF) / 0x1000 * 0x1000);
    // Its data starts at the first page boundary of the file after the others'
    // (3072 here), so a loader can map it from the file; zeros fill the gap.
    EXPECT_EQ(rsrc.pointerToRawData, 4096u);
    EXPECT_EQ(Slice(out, before.SectionDataEnd(), 4096 - before.SectionDataEnd()),
              std::string(4096 - before.SectionDataEnd(), '\0'));
    EXPECT_EQ(image.Directory(pe::kResourceDirectoryIndex).address, rsrc.virtualAddress);
    EXPECT_EQ(GetU32(out, image.OptionalHeaderOffset() + 56), rsrc.virtualAddress + 0x2000);
    EXPECT_EQ(Slice(out, image.SymbolTableOffset(), 7), "SYMBOLS");
    EXPECT_EQ(GetU32(out, image.OptionalHeaderOffset() + 64), ReferenceChecksum(out, image.OptionalHeaderOffset() + 64));

    // Now the resources are last: a second stamp rewrites them in place, to the same bytes.
    std::vector<uint8_t> again;
    ASSERT_TRUE(Stamp(out, package, &again, &summary));
    EXPECT_FALSE(summary.newSection);
    EXPECT_TRUE(again == out);
}

TEST(PeResourceWriter, GivesAProgramWithoutResourcesAResourceSection)
{
    ImageLayout shape;
    shape.sections.push_back(Section{".text", 0x1000, 0, std::vector<uint8_t>(16, 0xC3), 0x60000020});
    std::vector<uint8_t> out;
    PeWriteSummary summary;
    ASSERT_TRUE(Stamp(BuildImage(shape).bytes, "pkg", &out, &summary));
    EXPECT_TRUE(summary.newSection);
    EXPECT_EQ(summary.resourceRva, 0x2000u);
    EXPECT_EQ(Resources(out), Expected({}, "pkg", kIni));
}

TEST(PeResourceWriter, RefusesWhenThereIsNoRoomForAnotherSectionHeader)
{
    ImageLayout shape = LauncherLike(LauncherResources(), true);
    shape.sizeOfHeaders = 0x200;  // the table of 3 sections ends at 0x1F0
    std::vector<uint8_t> out;
    Status s = Stamp(BuildImage(shape).bytes, "pkg", &out);
    EXPECT_EQ(s.Code(), kErrorBadExeFormat);
    EXPECT_NE(s.Message().find("no room for another section header: the section table ends at 0x1F0 and the "
                               "headers at 0x200 (the resources cannot grow in place: section 2 (.rsrc) is not the "
                               "last section"),
              std::string::npos)
        << s.Message();

    Image busy = BuildImage(LauncherLike(LauncherResources(), true));
    busy.bytes[busy.sectionTable + 3 * 40 + 12] = 1;
    s = Stamp(busy.bytes, "pkg", &out);
    EXPECT_NE(s.Message().find("the bytes at 0x1FC, after the section table, are in use"), std::string::npos)
        << s.Message();
}

TEST(PeResourceWriter, DropsTheCertificateTableOfASignedProgramAndSaysSo)
{
    ImageLayout shape = LauncherLike(LauncherResources(), false);
    shape.overlay = "appended";
    shape.certificate = std::string("\x10\0\0\0\0\x02\x02\0signature", 17);
    const Image in = BuildImage(shape);
    std::vector<uint8_t> out;
    PeWriteSummary summary;
    ASSERT_TRUE(Stamp(in.bytes, "pkg", &out, &summary));
    EXPECT_EQ(summary.droppedCertificateSize, 17u);
    PeImage image;
    ASSERT_TRUE(PeImage::Parse(out, &image));
    EXPECT_EQ(image.Directory(pe::kCertificateDirectoryIndex).address, 0u);
    EXPECT_EQ(image.Directory(pe::kCertificateDirectoryIndex).size, 0u);
    // What came before the table stays; the table goes.
    EXPECT_EQ(Slice(out, image.SectionDataEnd(), static_cast<uint32_t>(out.size() - image.SectionDataEnd())),
              "appended");
}

namespace {

// A large resource produced piece by piece, checking how the writer asks for it.
class PatternSource : public ResourceSource {
public:
    explicit PatternSource(uint64_t size) : size_(size) {}
    uint64_t Size() const override { return size_; }
    Status Read(uint64_t offset, uint8_t* buffer, uint32_t length) override
    {
        if ((offset != next_ && offset != 0) || length > 1024 * 1024 || length > size_ - offset)
            return Status::Error(87, "out of order");
        for (uint32_t i = 0; i < length; ++i)
            buffer[i] = static_cast<uint8_t>((offset + i) * 7 / 5);
        next_ = offset + length;
        return failAt_ != 0 && next_ > failAt_ ? Status::Error(23, "device says no") : Status::Ok();
    }
    uint64_t failAt_ = 0;

private:
    uint64_t size_;
    uint64_t next_ = 0;
};

class FailingSink : public ByteSink {
public:
    Status Append(const uint8_t*, uint32_t length) override
    {
        written_ += length;
        return written_ > 0x1000 ? Status::Error(112, "disk full") : Status::Ok();
    }
    Status Patch(uint64_t, const uint8_t*, uint32_t) override { return Status::Ok(); }
    Status Finish() override { return Status::Ok(); }
    Status Restart() override { return Status::Ok(); }
    uint64_t Size() const override { return written_; }

private:
    uint64_t written_ = 0;
};

}  // namespace

TEST(PeResourceWriter, StreamsSourcesInPiecesAndPassesTheirFailuresOn)
{
    const Image in = BuildImage(LauncherLike(LauncherResources(), true));
    PatternSource big(1000003);
    MemorySource ini(View(kIni));
    std::vector<uint8_t> out;
    Status s = Stamp(in.bytes, &big, &ini, &out);
    ASSERT_TRUE(s) << s.Message();
    const std::string bytes = Resources(out)["OEMDATA/DEFAULT/0 (0)"];
    ASSERT_EQ(bytes.size(), 1000003u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[999999]), static_cast<uint8_t>(999999u * 7 / 5));
    // Writing a second time reads the source again from the start.
    PeImage image;
    ResourceTree tree;
    ASSERT_TRUE(PeImage::Parse(in.bytes, &image));
    ASSERT_TRUE(ResourceTree::Read(image, &tree));
    PatternSource failing(3000000);
    failing.failAt_ = 2000000;
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, &failing);
    PeResourceWriter writer;
    ASSERT_TRUE(PeResourceWriter::Prepare(image, tree, &writer));
    MemorySink sink;
    s = writer.Write(sink);
    EXPECT_EQ(s.Code(), 23u);
    EXPECT_EQ(s.Message(), "reading resource OEMDATA/DEFAULT/0 at 0x100000: device says no");
    FailingSink full;
    s = writer.Write(full);
    EXPECT_EQ(s.Code(), 112u);
    EXPECT_NE(s.Message().find("writing the program at 0x"), std::string::npos) << s.Message();
}

namespace {

class HugeSource : public ResourceSource {
public:
    explicit HugeSource(uint64_t size) : size_(size) {}
    uint64_t Size() const override { return size_; }
    Status Read(uint64_t, uint8_t*, uint32_t) override { return Status::Error(87, "must not be read"); }

private:
    uint64_t size_;
};

}  // namespace

TEST(PeResourceWriter, RefusesAnOutputBeyond32BitOffsetsBeforeReadingAnything)
{
    const Image in = BuildImage(LauncherLike(LauncherResources(), true));
    MemorySource ini(View(kIni));
    for (uint64_t size : {uint64_t(5) << 30, uint64_t(0xFFFFFFFF), uint64_t(0xFFFFC000)}) {
        HugeSource huge(size);
        std::vector<uint8_t> out;
        Status s = Stamp(in.bytes, &huge, &ini, &out);
        EXPECT_EQ(s.Code(), kErrorFileTooLarge) << size;
        EXPECT_NE(s.Message().find("32-bit"), std::string::npos) << s.Message();
        EXPECT_TRUE(out.empty());
    }
}

TEST(PeChecksum, GivesTheSameValueWhateverThePieces)
{
    const std::string text = Pattern(1001, 3);
    std::vector<uint8_t> bytes(text.begin(), text.end());
    const uint32_t expected = ReferenceChecksum(bytes, 0x7FFFFFF0);
    for (uint32_t first = 0; first < 9; ++first) {
        PeChecksum sum;
        sum.Add(bytes.data(), first);
        for (uint32_t at = first; at < bytes.size(); at += 3 + first)
            sum.Add(bytes.data() + at, std::min<uint32_t>(3 + first, static_cast<uint32_t>(bytes.size()) - at));
        EXPECT_EQ(sum.Value(), expected) << first;
    }
}

// The wide sum against the 16-bit one: odd and even lengths, pieces starting
// at odd offsets and unaligned addresses, and the contents whose carries
// decide between 0 and 0xFFFF (all zeros, all ones, 0xFF bytes in one half).
TEST(PeChecksum, MatchesTheSixteenBitSumOnOddLengthsAndOffsets)
{
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (const uint32_t length : {0u, 1u, 2u, 3u, 7u, 8u, 9u, 4095u, 4096u, 65537u, 200003u}) {
        for (int fill = 0; fill < 4; ++fill) {
            // One byte ahead of the data, so that it starts at an odd address.
            std::vector<uint8_t> store(length + 1);
            for (uint32_t i = 0; i < length; ++i)
                store[i + 1] = fill == 0 ? 0 : fill == 1 ? 0xFF : fill == 2 ? ((i & 1) ? 0xFF : 0) : next();
            const std::vector<uint8_t> bytes(store.begin() + 1, store.end());
            const uint32_t expected = ReferenceChecksum(bytes, 0x7FFFFFF0);
            for (const uint32_t split : {1u, 3u, 5u, 64u, 1021u}) {
                PeChecksum sum;
                for (uint32_t at = 0; at < length;) {
                    const uint32_t piece = std::min(split + (at & 1), length - at);
                    sum.Add(store.data() + 1 + at, piece);
                    at += piece;
                }
                EXPECT_EQ(sum.Value(), expected) << length << " fill " << fill << " split " << split;
                EXPECT_EQ(sum.Length(), length);
            }
        }
    }
}

TEST(PeResourceWriter, KeepsATypeWithoutNames)
{
    // Depth first: root +0x0, #5 +0x28, OEMDATA +0x68, EMPTY_TYPE +0xA8 with its one name counted away.
    const std::vector<Resource> resources = {
        {ResourceId::Number(5), ResourceId::Number(101), 0x804, "dialog"},
        {ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, "package"},
        {ResourceId::AsciiName("EMPTY_TYPE"), ResourceId::AsciiName("X"), 0, "gone"},
    };
    Image in = BuildImage(LauncherLike(resources, true));
    PutU16(&in.bytes, in.sectionFileOffsets[1] + 0xA8 + 12, 0);
    std::vector<uint8_t> out;
    ASSERT_TRUE(Stamp(in.bytes, "new", &out));
    EXPECT_EQ(Resources(out), Expected({resources[0]}, "new", kIni));
    PeImage image;
    ResourceTree tree;
    ASSERT_TRUE(PeImage::Parse(out, &image));
    ASSERT_TRUE(ResourceTree::Read(image, &tree));
    ASSERT_EQ(tree.Types().count(ResourceId::AsciiName("EMPTY_TYPE")), 1u);
    EXPECT_TRUE(tree.Types().at(ResourceId::AsciiName("EMPTY_TYPE")).names.empty());
}

TEST(PeResourceWriter, StampsFromARangeOfOneFileIntoAnother)
{
    const std::string package = Pattern(150000, 4);
    const char* inputPath = "pe_writer_test_input.bin";
    const char* outputPath = "pe_writer_test_output.exe";
    {
        FileSink input;
        ASSERT_TRUE(input.Create(inputPath));
        ASSERT_TRUE(input.Append(reinterpret_cast<const uint8_t*>("head"), 4));
        ASSERT_TRUE(input.Append(reinterpret_cast<const uint8_t*>(package.data()), static_cast<uint32_t>(package.size())));
        ASSERT_TRUE(input.Append(reinterpret_cast<const uint8_t*>("tail"), 4));
        ASSERT_TRUE(input.Finish());
    }
    FileRangeSource range, tooLong;
    ASSERT_TRUE(range.Open(inputPath, 4, package.size()));
    Status s = tooLong.Open(inputPath, 9, package.size());
    EXPECT_NE(s.Message().find("150000 bytes at 0x9 pass the end of the file (150008 bytes)"), std::string::npos)
        << s.Message();

    PeImage image;
    ResourceTree tree;
    ASSERT_TRUE(PeImage::Parse(BuildImage(LauncherLike(LauncherResources(), true)).bytes, &image));
    ASSERT_TRUE(ResourceTree::Read(image, &tree));
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, &range);
    PeResourceWriter writer;
    ASSERT_TRUE(PeResourceWriter::Prepare(image, tree, &writer));
    FileSink output;
    ASSERT_TRUE(output.Create(outputPath));
    s = writer.Write(output);
    ASSERT_TRUE(s) << s.Message();
    ASSERT_TRUE(output.Finish());

    PeImage written;
    s = PeImage::Load(outputPath, &written);
    ASSERT_TRUE(s) << s.Message();
    const std::vector<uint8_t> bytes(written.Bytes().Data(), written.Bytes().Data() + written.Size());
    EXPECT_EQ(Resources(bytes)["OEMDATA/DEFAULT/0 (0)"], package);
    EXPECT_EQ(GetU32(bytes, written.OptionalHeaderOffset() + 64), ReferenceChecksum(bytes, written.OptionalHeaderOffset() + 64));
    std::remove(inputPath);
    std::remove(outputPath);
}

TEST(PeResourceWriter, AProgramOpenedFromItsFileIsStampedAsFromMemory)
{
    // An old package (dropped) and a kept resource larger than the writer's
    // pieces; a debug entry in .text and the symbol table pointing into the
    // overlay, which moves; a certificate, which goes.
    std::vector<Resource> resources = LauncherResources();
    resources.push_back({ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0,
                         Pattern((3u << 20) + 5, 7)});
    resources.push_back({ResourceId::Number(10), ResourceId::Number(9), 0, Pattern((1u << 20) + 77, 8)});
    const std::string package = Pattern((2u << 20) + 3, 9);
    const char* path = "pe_writer_test_opened.exe";
    for (bool relocAfter : {false, true}) {
        ImageLayout shape = LauncherLike(resources, relocAfter);
        shape.directoryRva[pe::kDebugDirectoryIndex] = 0x1100;
        shape.directorySize[pe::kDebugDirectoryIndex] = pe::kDebugEntrySize;
        shape.overlay = "SYMBOLS!DEBUGDAT";
        shape.symbolsAt = 0;
        shape.certificate = std::string("\x10\0\0\0\0\x02\x02\0signature", 17);
        Image in = BuildImage(shape);
        PeImage parsed;
        ASSERT_TRUE(PeImage::Parse(in.bytes, &parsed));
        const uint32_t debugEntry = in.sectionFileOffsets[0] + 0x100;
        PutU32(&in.bytes, debugEntry + pe::kDebugSizeOfData, 8);
        PutU32(&in.bytes, debugEntry + pe::kDebugAddressOfRawData, 0);
        PutU32(&in.bytes, debugEntry + pe::kDebugPointerToRawData, parsed.SectionDataEnd() + 8);
        {
            FileSink file;
            ASSERT_TRUE(file.Create(path));
            ASSERT_TRUE(file.Append(in.bytes.data(), static_cast<uint32_t>(in.bytes.size())));
            ASSERT_TRUE(file.Finish());
        }
        std::vector<uint8_t> fromMemory, fromFile;
        PeWriteSummary summary;
        ASSERT_TRUE(Stamp(in.bytes, package, &fromMemory, &summary));
        EXPECT_EQ(summary.newSection, relocAfter);
        const Status s = StampOpened(path, package, &fromFile);
        ASSERT_TRUE(s) << s.Message();
        EXPECT_TRUE(fromFile == fromMemory) << "relocAfter " << relocAfter;

        PeImage out;
        ASSERT_TRUE(PeImage::Parse(fromFile, &out));
        std::vector<Resource> kept = LauncherResources();
        kept.push_back(resources.back());
        EXPECT_TRUE(Resources(fromFile) == Expected(kept, package, kIni));
        EXPECT_EQ(Slice(fromFile, GetU32(fromFile, out.CoffHeaderOffset() + pe::kCoffPointerToSymbolTable), 8),
                  "SYMBOLS!");
        EXPECT_EQ(Slice(fromFile, GetU32(fromFile, debugEntry + pe::kDebugPointerToRawData), 8), "DEBUGDAT");
        EXPECT_EQ(GetU32(fromFile, out.OptionalHeaderOffset() + pe::kOptCheckSum),
                  ReferenceChecksum(fromFile, out.OptionalHeaderOffset() + pe::kOptCheckSum));
    }
    std::remove(path);
}
