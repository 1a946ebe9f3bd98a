// Lays out resource directory tables, data entries, names and data, and writes the directory bytes.
#include "ResourceLayout.h"

#include <map>
#include <string>
#include <vector>

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

// Offsets in the directory part of the section: tables, data entries, names.
struct DirectoryPlan {
    std::map<ResourceId, uint64_t> typeTables;
    std::vector<uint64_t> nameTables;  // in directory order
    uint64_t dataEntries = 0;          // the first data entry
    std::map<std::u16string, uint64_t> names;
    uint64_t end = 0;
};

// The tables (the root, the type tables, the name tables) and the data
// entries, in the same order as the resources' bytes.
Status PlanTables(const ResourceTree& tree, DirectoryPlan* plan)
{
    const auto& types = tree.Types();
    if (!CountsFit(types))
        return Status::Error(kErrorInvalidParameter, "more than 65535 resource types of one kind");
    plan->end = TableSize(types.size());
    for (const auto& type : types) {
        if (!CountsFit(type.second.names))
            return Status::Error(kErrorInvalidParameter,
                                 "more than 65535 names of one kind under resource type " + type.first.Describe());
        plan->typeTables[type.first] = plan->end;
        plan->end += TableSize(type.second.names.size());
    }
    for (const auto& type : types) {
        for (const auto& name : type.second.names) {
            plan->nameTables.push_back(plan->end);
            plan->end += TableSize(name.second.languages.size());
        }
    }
    plan->dataEntries = plan->end;
    plan->end += uint64_t(tree.Count()) * pe::kResourceDataEntrySize;
    return Status::Ok();
}

// Every distinct name once, of every type (even one without names) and every name.
Status PlanNames(const ResourceTree& tree, DirectoryPlan* plan)
{
    std::vector<const ResourceId*> named;
    for (const auto& type : tree.Types()) {
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
        if (plan->names.emplace(id->Name(), plan->end).second)
            plan->end += NameSize(id->Name());
    }
    return Status::Ok();
}

// Each resource's bytes at an 8-byte boundary from *end on, in directory order.
Status PlaceData(const ResourceTree& tree, uint32_t sectionRva, uint64_t* end,
                 std::vector<ResourceLayout::Placement>* placements)
{
    for (const auto& type : tree.Types()) {
        for (const auto& name : type.second.names) {
            for (const auto& language : name.second.languages) {
                if (language.second.size > 0xFFFFFFFFu)
                    return Status::Error(kErrorFileTooLarge,
                                         "resource " + type.first.Describe() + "/" + name.first.Describe() + "/" +
                                             std::to_string(language.first) + " is " +
                                             pe::SizeText(language.second.size) + "; a resource's size is 32-bit");
                *end = AlignUp(*end, pe::kResourceDataAlignment);
                placements->push_back(ResourceLayout::Placement{&language.second, static_cast<uint32_t>(*end)});
                *end += language.second.size;
                if (*end > 0xFFFFFFFFu || *end > 0xFFFFFFFFu - sectionRva)
                    return Status::Error(kErrorFileTooLarge, "the resources would need " + pe::SizeText(*end) +
                                                                 " from RVA " + pe::Hex(sectionRva) +
                                                                 "; PE offsets and sizes are 32-bit");
            }
        }
    }
    return Status::Ok();
}

uint32_t NameField(const ResourceId& id, const DirectoryPlan& plan)
{
    return id.IsName() ? pe::kResourceHighBit | static_cast<uint32_t>(plan.names.at(id.Name())) : id.Number();
}

// The language tables of one name and their data entries, from data entry dataIndex on.
void WriteLanguages(DirectoryWriter& w, const ResourceTree::Name& name, uint32_t table, const DirectoryPlan& plan,
                    const std::vector<ResourceLayout::Placement>& placements, uint32_t sectionRva, size_t* dataIndex)
{
    uint32_t entry = w.Table(table, name.info, name.languages);
    for (const auto& language : name.languages) {
        const uint32_t dataEntry =
            static_cast<uint32_t>(plan.dataEntries + uint64_t(*dataIndex) * pe::kResourceDataEntrySize);
        w.U32(entry + pe::kResourceEntryName, language.first);
        w.U32(entry + pe::kResourceEntryOffset, dataEntry);
        entry += pe::kResourceEntrySize;
        w.U32(dataEntry + pe::kResourceDataRva, sectionRva + placements[*dataIndex].offset);
        w.U32(dataEntry + pe::kResourceDataSize, static_cast<uint32_t>(language.second.size));
        w.U32(dataEntry + pe::kResourceDataCodePage, language.second.codePage);
        ++*dataIndex;
    }
}

// The tables, the data entries and the names.
void WriteDirectory(DirectoryWriter& w, const ResourceTree& tree, const DirectoryPlan& plan,
                    const std::vector<ResourceLayout::Placement>& placements, uint32_t sectionRva)
{
    const auto& types = tree.Types();
    uint32_t entry = w.Table(0, tree.RootInfo(), types);
    for (const auto& type : types) {
        w.U32(entry + pe::kResourceEntryName, NameField(type.first, plan));
        w.U32(entry + pe::kResourceEntryOffset,
              pe::kResourceHighBit | static_cast<uint32_t>(plan.typeTables.at(type.first)));
        entry += pe::kResourceEntrySize;
    }
    size_t nameIndex = 0;
    size_t dataIndex = 0;
    for (const auto& type : types) {
        entry = w.Table(static_cast<uint32_t>(plan.typeTables.at(type.first)), type.second.info, type.second.names);
        for (const auto& name : type.second.names) {
            const uint32_t nameTable = static_cast<uint32_t>(plan.nameTables[nameIndex++]);
            w.U32(entry + pe::kResourceEntryName, NameField(name.first, plan));
            w.U32(entry + pe::kResourceEntryOffset, pe::kResourceHighBit | nameTable);
            entry += pe::kResourceEntrySize;
            WriteLanguages(w, name.second, nameTable, plan, placements, sectionRva, &dataIndex);
        }
    }
    for (const auto& name : plan.names) {
        const uint32_t at = static_cast<uint32_t>(name.second);
        w.U16(at, static_cast<uint16_t>(name.first.size()));
        for (size_t i = 0; i < name.first.size(); ++i)
            w.U16(at + pe::kResourceNameLengthSize + static_cast<uint32_t>(i) * 2, name.first[i]);
    }
}

}  // namespace

Status ResourceLayout::Build(const ResourceTree& tree, uint32_t sectionRva, ResourceLayout* layout)
{
    DirectoryPlan plan;
    Status s = PlanTables(tree, &plan);
    if (s)
        s = PlanNames(tree, &plan);
    if (!s)
        return s;
    uint64_t end = AlignUp(plan.end, pe::kResourceDataAlignment);
    if (end > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the resource directory would be " + pe::SizeText(end));
    const uint32_t directorySize = static_cast<uint32_t>(end);
    std::vector<Placement> placements;
    s = PlaceData(tree, sectionRva, &end, &placements);
    if (!s)
        return s;

    std::vector<uint8_t> directory(directorySize, 0);
    DirectoryWriter w(&directory);
    WriteDirectory(w, tree, plan, placements, sectionRva);
    if (!w.Ok())
        return Status::Error(kErrorInvalidParameter, "internal error: the resource directory layout overran itself");

    layout->directory_ = std::move(directory);
    layout->placements_ = std::move(placements);
    layout->size_ = static_cast<uint32_t>(end);
    return Status::Ok();
}
