// Reading a resource directory with every offset checked, and editing the tree.
#include "ResourceTree.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "PeFormat.h"
#include "PeText.h"

using pe::SizeText;
using pe::Hex;

namespace {

Status Bad(std::string message) { return Status::Error(kErrorBadExeFormat, std::move(message)); }

// The resource section's file data from the directory on, read through the
// image: straight from its bytes where it holds them, else from the file in
// blocks kept for later reads. The directory is small, the data after it
// (the package) may be large and is never read here. A failed file read makes
// every later read fail too and is kept for the caller.
class SectionBytes {
public:
    SectionBytes(const PeImage& image, uint32_t start, uint32_t size) : image_(image), start_(start), size_(size)
    {
        const uint8_t* held = nullptr;
        if (image.Bytes().Bytes(start, size, &held)) {
            held_ = ByteView(held, size);
            holds_ = true;
        }
    }
    uint32_t Size() const { return size_; }
    bool Contains(uint32_t offset, uint32_t length) const { return offset <= size_ && length <= size_ - offset; }
    bool ReadU16(uint32_t offset, uint16_t* value)
    {
        uint8_t b[2];
        if (!Read(offset, b, sizeof b))
            return false;
        *value = static_cast<uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool ReadU32(uint32_t offset, uint32_t* value)
    {
        uint8_t b[4];
        if (!Read(offset, b, sizeof b))
            return false;
        *value = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
        return true;
    }
    bool Read(uint32_t offset, uint8_t* out, uint32_t length)
    {
        if (!Contains(offset, length) || !failure_.IsOk())
            return false;
        if (length == 0)
            return true;
        const uint8_t* bytes = nullptr;
        if (holds_) {
            if (!held_.Bytes(offset, length, &bytes))
                return false;
            std::memcpy(out, bytes, length);
            return true;
        }
        for (uint32_t done = 0; done < length;) {
            const uint32_t at = offset + done;
            const std::vector<uint8_t>* block = Block(at / kBlockSize);
            if (block == nullptr)
                return false;
            const ByteView view(block->data(), static_cast<uint32_t>(block->size()));
            const uint32_t inside = at % kBlockSize;
            const uint32_t n = std::min<uint32_t>(length - done, view.Size() - std::min(inside, view.Size()));
            if (n == 0 || !view.Bytes(inside, n, &bytes))
                return false;
            std::memcpy(out + done, bytes, n);
            done += n;
        }
        return true;
    }
    const Status& Failure() const { return failure_; }

private:
    static constexpr uint32_t kBlockSize = 4096;

    const std::vector<uint8_t>* Block(uint32_t index)
    {
        auto found = blocks_.find(index);
        if (found != blocks_.end())
            return &found->second;
        const uint32_t from = index * kBlockSize;
        std::vector<uint8_t> block(std::min<uint32_t>(kBlockSize, size_ - from));
        failure_ = image_.ReadAt(start_ + from, block.data(), static_cast<uint32_t>(block.size()));
        if (!failure_)
            return nullptr;
        return &blocks_.emplace(index, std::move(block)).first->second;
    }

    const PeImage& image_;
    uint32_t start_;
    uint32_t size_;
    ByteView held_;
    bool holds_ = false;
    std::map<uint32_t, std::vector<uint8_t>> blocks_;
    Status failure_ = Status::Ok();
};

}  // namespace

// Walks the three levels below the root. Offsets are relative to the root
// table, as in the entries; the view ends where the section's file data ends.
class ResourceTree::Reader {
public:
    Reader(const PeImage& image, SectionBytes& view, uint32_t rootRva) : image_(image), view_(view), rootRva_(rootRva) {}

    Status ReadAll(ResourceTree* tree)
    {
        std::vector<Entry> types;
        Status s = ReadTable(0, &tree->root_, &types);
        for (size_t t = 0; s && t < types.size(); ++t) {
            s = ExpectTable(types[t], 0, "type " + types[t].id.Describe());
            Type type;
            std::vector<Entry> names;
            if (s)
                s = ReadTable(types[t].target, &type.info, &names);
            for (size_t n = 0; s && n < names.size(); ++n) {
                const std::string path = types[t].id.Describe() + "/" + names[n].id.Describe();
                s = ExpectTable(names[n], types[t].target, "name " + path);
                Name name;
                std::vector<Entry> languages;
                if (s)
                    s = ReadTable(names[n].target, &name.info, &languages);
                for (size_t l = 0; s && l < languages.size(); ++l) {
                    ResourceData data;
                    s = ReadLanguage(languages[l], names[n].target, path, &data);
                    if (s && !name.languages.emplace(languages[l].id.Number(), data).second)
                        s = Bad(Table(names[n].target) + " lists language " + languages[l].id.Describe() + " twice");
                }
                if (s && !type.names.emplace(names[n].id, std::move(name)).second)
                    s = Bad(Table(types[t].target) + " lists name " + names[n].id.Describe() + " twice");
            }
            if (s && !tree->types_.emplace(types[t].id, std::move(type)).second)
                s = Bad(Table(0) + " lists type " + types[t].id.Describe() + " twice");
        }
        return s;
    }

private:
    struct Entry {
        ResourceId id;
        uint32_t index = 0;
        uint32_t target = 0;
        bool isTable = false;
    };

    std::string Table(uint32_t offset) const
    {
        return "the resource table at +" + Hex(offset) + " (RVA " + Hex(uint64_t(rootRva_) + offset) + ")";
    }
    std::string Outside() const { return "outside the resource data (" + SizeText(view_.Size()) + ")"; }
    std::string EntryText(const Entry& entry, uint32_t table) const
    {
        return "entry " + std::to_string(entry.index + 1) + " of " + Table(table);
    }

    Status ReadTable(uint32_t offset, ResourceDirectoryInfo* info, std::vector<Entry>* entries)
    {
        if (!visited_.insert(offset).second)
            return Bad(Table(offset) + " is reached twice (the resource directories loop)");
        uint16_t named = 0, numbered = 0;
        if (!view_.Contains(offset, pe::kResourceTableSize) ||
            !view_.ReadU32(offset + pe::kResourceTableCharacteristics, &info->characteristics) ||
            !view_.ReadU32(offset + pe::kResourceTableTimeDateStamp, &info->timeDateStamp) ||
            !view_.ReadU16(offset + pe::kResourceTableMajorVersion, &info->majorVersion) ||
            !view_.ReadU16(offset + pe::kResourceTableMinorVersion, &info->minorVersion) ||
            !view_.ReadU16(offset + pe::kResourceTableNamedEntries, &named) ||
            !view_.ReadU16(offset + pe::kResourceTableIdEntries, &numbered))
            return Bad(Table(offset) + " reaches " + Outside());
        const uint32_t count = uint32_t(named) + numbered;
        const uint32_t first = offset + pe::kResourceTableSize;
        if (!view_.Contains(first, count * pe::kResourceEntrySize))
            return Bad("the " + std::to_string(count) + " entries of " + Table(offset) + " reach " + Outside());
        for (uint32_t i = 0; i < count; ++i) {
            Entry entry;
            entry.index = i;
            uint32_t nameField = 0, offsetField = 0;
            const uint32_t at = first + i * pe::kResourceEntrySize;
            if (!view_.ReadU32(at + pe::kResourceEntryName, &nameField) ||
                !view_.ReadU32(at + pe::kResourceEntryOffset, &offsetField))
                return Bad(EntryText(entry, offset) + " reaches " + Outside());
            if (nameField & pe::kResourceHighBit) {
                Status s = ReadName(nameField & ~pe::kResourceHighBit, &entry.id);
                if (!s)
                    return s.WithContext(EntryText(entry, offset));
            } else if (nameField > 0xFFFF) {
                return Bad(EntryText(entry, offset) + " has id " + Hex(nameField) + ", more than 16 bits");
            } else {
                entry.id = ResourceId::Number(static_cast<uint16_t>(nameField));
            }
            entry.isTable = (offsetField & pe::kResourceHighBit) != 0;
            entry.target = offsetField & ~pe::kResourceHighBit;
            entries->push_back(std::move(entry));
        }
        return Status::Ok();
    }

    Status ReadName(uint32_t offset, ResourceId* id)
    {
        uint16_t length = 0;
        std::vector<uint8_t> units;
        if (!view_.ReadU16(offset, &length) || !view_.Contains(offset + pe::kResourceNameLengthSize, uint32_t(length) * 2))
            return Bad("its name at +" + Hex(offset) + " reaches " + Outside());
        units.resize(uint32_t(length) * 2);
        if (!view_.Read(offset + pe::kResourceNameLengthSize, units.data(), static_cast<uint32_t>(units.size())))
            return Bad("its name at +" + Hex(offset) + " reaches " + Outside());
        std::u16string name;
        for (uint32_t i = 0; i < length; ++i)
            name += static_cast<char16_t>(units[2 * i] | (units[2 * i + 1] << 8));
        *id = ResourceId::Name(std::move(name));
        return Status::Ok();
    }

    Status ExpectTable(const Entry& entry, uint32_t table, const std::string& what) const
    {
        if (!entry.isTable)
            return Bad(EntryText(entry, table) + " (" + what + ") points at data, not at a table");
        return Status::Ok();
    }

    Status ReadLanguage(const Entry& entry, uint32_t table, const std::string& path, ResourceData* data)
    {
        if (entry.id.IsName())
            return Bad(EntryText(entry, table) + " (a language of " + path + ") is a name, not a number");
        if (entry.isTable)
            return Bad(EntryText(entry, table) + " (language " + entry.id.Describe() + " of " + path +
                       ") points at a table, not at data");
        uint32_t rva = 0, size = 0;
        if (!view_.Contains(entry.target, pe::kResourceDataEntrySize) ||
            !view_.ReadU32(entry.target + pe::kResourceDataRva, &rva) ||
            !view_.ReadU32(entry.target + pe::kResourceDataSize, &size) ||
            !view_.ReadU32(entry.target + pe::kResourceDataCodePage, &data->codePage))
            return Bad("resource " + path + "/" + entry.id.Describe() + ": its data entry at +" + Hex(entry.target) +
                       " reaches " + Outside());
        data->size = size;
        // Nothing to read for empty data, wherever it claims to be.
        if (size != 0 && !image_.RvaToFileOffset(rva, size, &data->imageOffset))
            return Bad("resource " + path + "/" + entry.id.Describe() + ": its data at RVA " + Hex(rva) + " (" +
                       SizeText(size) + ") is not inside one section's file data");
        return Status::Ok();
    }

    const PeImage& image_;
    SectionBytes& view_;
    uint32_t rootRva_;
    std::set<uint32_t> visited_;
};

Status ResourceTree::Read(const PeImage& image, ResourceTree* tree)
{
    ResourceTree result;
    const PeDirectory directory = image.Directory(pe::kResourceDirectoryIndex);
    if (directory.address == 0) {
        *tree = std::move(result);
        return Status::Ok();
    }
    const int index = image.SectionOfRva(directory.address);
    if (index < 0)
        return Bad("the resource directory at RVA " + Hex(directory.address) + " lies in no section");
    const PeSection& section = image.Sections()[static_cast<size_t>(index)];
    const uint32_t inside = directory.address - section.virtualAddress;
    // Parse checked that the section's raw data lies inside the file.
    if (inside >= section.FileBackedSize())
        return Bad("the resource directory at RVA " + Hex(directory.address) + " lies past the file data of " +
                   section.Describe(static_cast<size_t>(index)));
    SectionBytes bytes(image, section.pointerToRawData + inside, section.FileBackedSize() - inside);
    Reader reader(image, bytes, directory.address);
    Status s = reader.ReadAll(&result);
    if (!bytes.Failure())
        return bytes.Failure();
    if (!s)
        return s;
    *tree = std::move(result);
    return Status::Ok();
}

size_t ResourceTree::Remove(const ResourceId& type, const ResourceId& name)
{
    size_t dropped = 0;
    for (auto t = types_.begin(); t != types_.end();) {
        if (!t->first.SameIgnoringCase(type)) {
            ++t;
            continue;
        }
        auto& names = t->second.names;
        for (auto n = names.begin(); n != names.end();) {
            if (n->first.SameIgnoringCase(name)) {
                dropped += n->second.languages.size();
                n = names.erase(n);
            } else {
                ++n;
            }
        }
        t = names.empty() ? types_.erase(t) : std::next(t);
    }
    return dropped;
}

void ResourceTree::Replace(const ResourceId& type, const ResourceId& name, uint16_t language, ResourceSource* source)
{
    Remove(type, name);
    ResourceData data;
    data.size = source->Size();
    data.source = source;
    types_[type].names[name].languages[language] = data;
}

const ResourceData* ResourceTree::Find(const ResourceId& type, const ResourceId& name, uint16_t language) const
{
    auto t = types_.find(type);
    if (t == types_.end())
        return nullptr;
    auto n = t->second.names.find(name);
    if (n == t->second.names.end())
        return nullptr;
    auto l = n->second.languages.find(language);
    return l == n->second.languages.end() ? nullptr : &l->second;
}

size_t ResourceTree::Count() const
{
    size_t count = 0;
    for (const auto& type : types_) {
        for (const auto& name : type.second.names)
            count += name.second.languages.size();
    }
    return count;
}
