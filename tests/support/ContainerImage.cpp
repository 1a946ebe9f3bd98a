// Hand-made container images and entries.
#include "ContainerImage.h"

#include <gtest/gtest.h>

#include "LzwCodec.h"
#include "TestFiles.h"

namespace test_support {

const EntryInfo kImageEntryInfo = {kFileAttributeArchive, {0x10000000, 0x01D00000}, {0x10000001, 0x01D00001},
                                   {0x10000002, 0x01D00002}};

uint32_t U32At(const std::string& bytes, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

EntryInfo MakeInfo(uint32_t attributes, uint64_t seconds)
{
    return {attributes, TimeOfSeconds(seconds), TimeOfSeconds(seconds + 3600), TimeOfSeconds(seconds)};
}

ImageEntry::operator std::string() const
{
    Bytes b;
    b.U16(kind).U32(info.attributes).U32(uncompressedSize).U32(compressedSize);
    for (const FileTime& t : {info.creationTime, info.lastAccessTime, info.lastWriteTime})
        b.U32(t.lowDateTime).U32(t.highDateTime);
    b.U16(static_cast<uint16_t>(name.size())).Name(name).Text(stored);
    return b.data;
}

ImageEntry EntryBytes(const std::string& name, const std::string& stored, uint32_t uncompressedSize,
                      uint32_t compressedSize, uint16_t kind)
{
    return {name, stored, uncompressedSize, compressedSize, kImageEntryInfo, kind};
}

ImageEntry StoredEntry(const std::string& name, const std::string& content)
{
    return EntryBytes(name, content, Size(content), 0);
}

ImageEntry PackedEntry(const std::string& name, const std::string& content)
{
    std::vector<uint8_t> stream;
    EXPECT_EQ(1, LzwEncodeBuffer(Data(content), Size(content), &stream));
    return EntryBytes(name, std::string(stream.begin(), stream.end()), Size(content),
                      static_cast<uint32_t>(stream.size()));
}

std::string ContainerBytes(const std::vector<GroupSpec>& groups, uint16_t version)
{
    Bytes b;
    uint16_t total = 0;
    for (const GroupSpec& g : groups)
        total = static_cast<uint16_t>(total + g.entries.size());
    b.U32(kContainerMagic).U16(version).U16(total).U32(0).U16(static_cast<uint16_t>(groups.size()));
    b.data.append(4 * (groups.empty() ? 1 : groups.size()), '\0');
    for (size_t i = 0; i < groups.size(); ++i) {
        const size_t record = b.data.size();
        b.U32At(kHeaderGroupTableOffset + 4 * i, static_cast<uint32_t>(record));
        b.U16(kGroupSignature).U16(static_cast<uint16_t>(groups[i].name.size())).Name(groups[i].name);
        b.U16(static_cast<uint16_t>(groups[i].entries.size()));
        const size_t table = b.data.size();
        b.data.append(4 * (groups[i].entries.empty() ? 1 : groups[i].entries.size()), '\0');
        for (size_t j = 0; j < groups[i].entries.size(); ++j) {
            b.U32At(table + 4 * j, static_cast<uint32_t>(b.data.size() - record));
            b.Text(groups[i].entries[j]);
        }
    }
    return b.data;
}

std::string Written(const PackageDirectory& directory)
{
    MappedFile image;
    EXPECT_EQ(1, BuildContainerImage(directory, image));
    return std::string(reinterpret_cast<const char*>(image.GetData()), image.GetLength());
}

int BuildMemoryEntry(const std::string& content, const char* path, EntryBuffer& target)
{
    MappedFile source;
    if (!source.CreateMemory(nullptr, Size(content), 0))
        return 0;
    source.Write(content.data(), Size(content));
    return BuildEntry(source, path, target, 0);
}

std::string Stored(const EntryBuffer* entry)
{
    return std::string(reinterpret_cast<const char*>(entry->GetStoredData()), entry->GetStoredLength());
}

}  // namespace test_support
