// Lays out resource directory tables, data entries, names and data, and writes the directory bytes.
#include "ResourceLayout.h"

#include <map>
#include <string>

#include "PeFormat.h"
#include "PeText.h"
#include "SystemApi.h"

namespace {

uint64_t AlignUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

uint64_t TableSize(size_t entries) { return pe::kResourceTableSize + uint64_t(entries) * pe::kResourceEntrySize; }

// Languages are always numbers.
bool IsNamed(const ResourceId& id) { return id.IsName(); }
bool IsNamed(uint16_t) { return false; }

uint64_t NameSize(const std::u16string& name) { return pe::kResourceNameLengthSize + uint64_t(name.size()) * 2; }

// Writes directory bytes; every offset was computed to lie inside the buffer,
// so a failed write is a fault of the layout itself.
class DirectoryWriter {
public:
    explicit DirectoryWriter(std::vector<uint8_t>* bytes)
        : span_(bytes->data(), static_cast<uint32_t>(bytes->size()))
    {
    }
    void U16(uint32_t offset, uint16_t value) { ok_ = span_.WriteU16(offset, value) && ok_; }
    void U32(uint32_t offset, uint32_t value) { ok_ = span_.WriteU32(offset, value) && ok_; }
    bool Ok() const { return ok_; }

    // A table header with its counts; returns the offset of its first entry.
    template <typename Map>
    uint32_t Table(uint32_t offset, const ResourceDirectoryInfo& info, const Map& entries)
    {
        uint32_t named = 0;
        for (const auto& e : entries)
            named += IsNamed(e.first) ? 1 : 0;
        U32(offset + pe::kResourceTableCharacteristics, info.characteristics);
        U32(offset + pe::kResourceTableTimeDateStamp, info.timeDateStamp);
        U16(offset + pe::kResourceTableMajorVersion, info.majorVersion);
        U16(offset + pe::kResourceTableMinorVersion, info.minorVersion);
        U16(offset + pe::kResourceTableNamedEntries, static_cast<uint16_t>(named));
        U16(offset + pe::kResourceTableIdEntries, static_cast<uint16_t>(entries.size() - named));
        return offset + pe::kResourceTableSize;
    }

private:
    ByteSpan span_;
    bool ok_ = true;
};

template <typename Map>
bool CountsFit(const Map& entries)
{
    size_t named = 0;
    for (const auto& e : entries)
        named += IsNamed(e.first) ? 1 : 0;
    return named <= 0xFFFF && entries.size() - named <= 0xFFFF;
}

}  // namespace

Status ResourceLayout::Build(const ResourceTree& tree, uint32_t sectionRva, ResourceLayout* layout)
{
    const auto& types = tree.Types();
    if (!CountsFit(types))
        return Status::Error(kErrorInvalidParameter, "more than 65535 resource types of one kind");

    // Tables: the root, the type tables, the name tables.
    uint64_t end = TableSize(types.size());
    std::map<ResourceId, uint64_t> typeTables;
    for (const auto& type : types) {
        if (!CountsFit(type.second.names))
            return Status::Error(kErrorInvalidParameter,
                                 "more than 65535 names of one kind under resource type " + type.first.Describe());
        typeTables[type.first] = end;
        end += TableSize(type.second.names.size());
    }
    std::vector<uint64_t> nameTables;
    for (const auto& type : types) {
        for (const auto& name : type.second.names) {
            nameTables.push_back(end);
            end += TableSize(name.second.languages.size());
        }
    }
    // Data entries, in the same order as the resources' bytes.
    const uint64_t dataEntries = end;
    end += uint64_t(tree.Count()) * pe::kResourceDataEntrySize;
    // Names, each distinct one once.
    std::map<std::u16string, uint64_t> names;
    std::vector<const ResourceId*> named;  // every type (even one without names) and every name
    for (const auto& type : types) {
        named.push_back(&type.first);
        for (const auto& name : type.second.names)
            named.push_back(&name.first);
    }
    for (const ResourceId* id : named) {
        if (!id->IsName())
            continue;
        if (id->Name().size() > 0xFFFF)
            return Status::Error(kErrorInvalidParameter, "a resource name of " + std::to_string(id->Name().size()) +
                                                             " UTF-16 units; at most 65535 fit");
        if (names.emplace(id->Name(), end).second)
            end += NameSize(id->Name());
    }
    end = AlignUp(end, pe::kResourceDataAlignment);
    if (end > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the resource directory would be " + pe::SizeText(end));
    const uint32_t directorySize = static_cast<uint32_t>(end);

    std::vector<Placement> placements;
    for (const auto& type : types) {
        for (const auto& name : type.second.names) {
            for (const auto& language : name.second.languages) {
                if (language.second.size > 0xFFFFFFFFu)
                    return Status::Error(kErrorFileTooLarge,
                                         "resource " + type.first.Describe() + "/" + name.first.Describe() + "/" +
                                             std::to_string(language.first) + " is " + pe::SizeText(language.second.size) +
                                             "; a resource's size is 32-bit");
                end = AlignUp(end, pe::kResourceDataAlignment);
                placements.push_back(Placement{&language.second, static_cast<uint32_t>(end)});
                end += language.second.size;
                if (end > 0xFFFFFFFFu || end > 0xFFFFFFFFu - sectionRva)
                    return Status::Error(kErrorFileTooLarge,
                                         "the resources would need " + pe::SizeText(end) + " from RVA " + pe::Hex(sectionRva) +
                                             "; PE offsets and sizes are 32-bit");
            }
        }
    }

    std::vector<uint8_t> directory(directorySize, 0);
    DirectoryWriter w(&directory);
    uint32_t entry = w.Table(0, tree.RootInfo(), types);
    for (const auto& type : types) {
        const uint32_t nameField = type.first.IsName()
                                       ? pe::kResourceHighBit | static_cast<uint32_t>(names.at(type.first.Name()))
                                       : type.first.Number();
        w.U32(entry + pe::kResourceEntryName, nameField);
        w.U32(entry + pe::kResourceEntryOffset, pe::kResourceHighBit | static_cast<uint32_t>(typeTables[type.first]));
        entry += pe::kResourceEntrySize;
    }
    size_t nameIndex = 0;
    size_t dataIndex = 0;
    for (const auto& type : types) {
        entry = w.Table(static_cast<uint32_t>(typeTables[type.first]), type.second.info, type.second.names);
        for (const auto& name : type.second.names) {
            const uint32_t nameTable = static_cast<uint32_t>(nameTables[nameIndex++]);
            const uint32_t nameField = name.first.IsName()
                                           ? pe::kResourceHighBit | static_cast<uint32_t>(names.at(name.first.Name()))
                                           : name.first.Number();
            w.U32(entry + pe::kResourceEntryName, nameField);
            w.U32(entry + pe::kResourceEntryOffset, pe::kResourceHighBit | nameTable);
            entry += pe::kResourceEntrySize;

            uint32_t languageEntry = w.Table(nameTable, name.second.info, name.second.languages);
            for (const auto& language : name.second.languages) {
                const uint32_t dataEntry =
                    static_cast<uint32_t>(dataEntries + uint64_t(dataIndex) * pe::kResourceDataEntrySize);
                w.U32(languageEntry + pe::kResourceEntryName, language.first);
                w.U32(languageEntry + pe::kResourceEntryOffset, dataEntry);
                languageEntry += pe::kResourceEntrySize;
                w.U32(dataEntry + pe::kResourceDataRva, sectionRva + placements[dataIndex].offset);
                w.U32(dataEntry + pe::kResourceDataSize, static_cast<uint32_t>(language.second.size));
                w.U32(dataEntry + pe::kResourceDataCodePage, language.second.codePage);
                ++dataIndex;
            }
        }
    }
    for (const auto& name : names) {
        const uint32_t at = static_cast<uint32_t>(name.second);
        w.U16(at, static_cast<uint16_t>(name.first.size()));
        for (size_t i = 0; i < name.first.size(); ++i)
            w.U16(at + pe::kResourceNameLengthSize + static_cast<uint32_t>(i) * 2, name.first[i]);
    }
    if (!w.Ok())
        return Status::Error(kErrorInvalidParameter, "internal error: the resource directory layout overran itself");

    layout->directory_ = std::move(directory);
    layout->placements_ = std::move(placements);
    layout->size_ = static_cast<uint32_t>(end);
    return Status::Ok();
}
