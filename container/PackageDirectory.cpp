// In-memory package directory: loading, editing, sizing and writing container images.
#include "PackageDirectory.h"

#include <cstring>

#include "ByteView.h"
#include "CFile.h"
#include "ContainerFormat.h"
#include "ContainerWalker.h"
#include "Status.h"
#include "SystemApi.h"

namespace {

const char* GroupKey(const char* group) { return group ? group : ""; }

}  // namespace

PackageDirectory::PackageDirectory() : groups_(10) {}

PackageDirectory::~PackageDirectory() { DeleteAllGroups(); }

template <typename Visit>
void PackageDirectory::ForEachGroup(Visit visit) const
{
    StringKeyMap::Position position = groups_.GetStartPosition();
    while (position) {
        CString name;
        void* value = nullptr;
        groups_.GetNextAssoc(position, name, value);
        visit(name, static_cast<PackageGroup*>(value));
    }
}

void PackageDirectory::VisitGroups(const std::function<void(const CString& name, PackageGroup& group)>& visit) const
{
    ForEachGroup([&visit](const CString& name, PackageGroup* group) { visit(name, *group); });
}

void PackageDirectory::DeleteAllGroups()
{
    ForEachGroup([](const CString&, PackageGroup* group) { delete group; });
    groups_.RemoveAll();
}

PackageGroup* PackageDirectory::FindGroup(const char* group) const
{
    void* value = nullptr;
    return groups_.Lookup(GroupKey(group), value) ? static_cast<PackageGroup*>(value) : nullptr;
}

template <typename MakeEntry>
int PackageDirectory::LoadWalked(const ByteView& view, MakeEntry makeEntry)
{
    WalkedContainer contents;
    if (!ContainerWalker(view, ContainerCheck::kLoad).Walk(&contents))
        return 0;

    // Groups are taken in reverse table order. The map iterates the keys of one
    // bucket newest first, so this keeps the table's order for the next write:
    // loading an image and writing it again reproduces it. The last group of a
    // name is the one kept, so earlier ones of that name are passed over.
    StringKeyMap loaded(10);
    for (auto walked = contents.groups.rbegin(); walked != contents.groups.rend(); ++walked) {
        const char* name = walked->name.c_str();
        void* seen = nullptr;
        if (loaded.Lookup(name, seen))
            continue;
        loaded.SetAt(name, nullptr);

        PackageGroup* group = new PackageGroup;
        // A group already held under the name gives way to the loaded one.
        PackageGroup* replaced = FindGroup(name);
        groups_.SetAt(name, group);
        delete replaced;

        for (const WalkedEntry& entry : walked->entries) {
            EntryBuffer* buffer = new EntryBuffer;
            // The walk found the whole entry inside the image.
            if (!makeEntry(*buffer, entry.record.offset, entry.record.entryLength)) {
                delete buffer;
                continue;
            }
            group->Append(buffer, 1);
        }
    }
    return GetGroupCount();
}

int PackageDirectory::LoadImage(const uint8_t* image, uint32_t size)
{
    const ByteView view(image, size);
    return LoadWalked(view, [&view](EntryBuffer& buffer, uint32_t offset, uint32_t length) {
        const uint8_t* bytes = nullptr;
        return view.Bytes(offset, length, &bytes) && buffer.CreateFromEntry(bytes, length);
    });
}

int PackageDirectory::LoadMapped(const std::shared_ptr<const MappedFile>& file)
{
    if (!file || file->IsClosed())
        return 0;
    const ByteView view(file->GetData(), file->GetCapacity());
    return LoadWalked(view, [&file](EntryBuffer& buffer, uint32_t offset, uint32_t length) {
        return buffer.CreateView(file, offset, length) != 0;
    });
}

int PackageDirectory::AddEntry(EntryBuffer* buffer, const char* group, const char* entryName, int owned)
{
    if (!buffer || !buffer->IsValidEntry() || std::strlen(GroupKey(group)) > kMaxNameLength) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    PackageGroup* target = FindGroup(group);
    if (!target) {
        target = new PackageGroup;
        target->Append(buffer, owned);
        groups_.SetAt(GroupKey(group), target);
        return 1;
    }
    int index = target->Find(entryName);
    if (index < 0)
        target->Append(buffer, owned);
    else
        target->Replace(index, buffer, owned);
    return 1;
}

int PackageDirectory::RemoveEntry(const char* entryName, const char* group)
{
    PackageGroup* target = FindGroup(group);
    if (!target)
        return 0;
    return target->RemoveAt(target->Find(entryName));
}

EntryBuffer* PackageDirectory::FindEntry(const char* entryName, const char* group) const
{
    PackageGroup* target = FindGroup(group);
    if (!target)
        return nullptr;
    int index = target->Find(entryName);
    return index >= 0 ? target->GetAt(index) : nullptr;
}

int PackageDirectory::GetEntryCount(const char* group) const
{
    if (group) {
        PackageGroup* target = FindGroup(group);
        return target ? target->GetCount() : 0;
    }
    int total = 0;
    ForEachGroup([&total](const CString&, PackageGroup* g) { total += g->GetCount(); });
    return total;
}

int PackageDirectory::ListGroups(CStringArray& names) const
{
    ForEachGroup([&names](const CString& name, PackageGroup*) { names.Add(name); });
    return names.GetSize();
}

int PackageDirectory::ListEntries(const char* group, CStringArray& names) const
{
    PackageGroup* target = FindGroup(group);
    if (!target)
        return 0;
    for (int i = 0; i < target->GetCount(); ++i) {
        char name[kMaxPath] = {};
        target->GetAt(i)->GetName(name);
        names.Add(CString(name));
    }
    return 1;
}

uint32_t PackageDirectory::GetImageSize() const
{
    if (static_cast<uint32_t>(GetGroupCount()) > kMaxCount)
        return 0;
    uint64_t size = HeaderSize(static_cast<uint32_t>(GetGroupCount()));
    uint32_t total = 0;
    bool writable = true;
    ForEachGroup([&](const CString& name, PackageGroup* group) {
        const uint32_t count = static_cast<uint32_t>(group->GetCount());
        total += count;
        if (!writable || static_cast<uint32_t>(name.GetLength()) > kMaxNameLength || count > kMaxCount ||
            total > kMaxCount) {
            writable = false;
            return;
        }
        size += GroupRecordSize(static_cast<uint32_t>(name.GetLength()), count);
        for (int j = 0; j < group->GetCount(); ++j) {
            uint32_t length = group->GetAt(j)->GetEntryLength();
            if (length == 0)
                writable = false;
            size += length;
        }
    });
    if (!writable || size > UINT32_MAX)
        return 0;
    return static_cast<uint32_t>(size);
}

int PackageDirectory::WriteImage(uint8_t* image, uint32_t size) const
{
    const uint32_t expected = GetImageSize();
    if (expected == 0 || size != expected || !image) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    ByteSpan out(image, size);
    uint32_t slot = 0;
    uint32_t offset = HeaderSize(static_cast<uint32_t>(GetGroupCount()));
    bool ok = true;
    ForEachGroup([&](const CString& name, PackageGroup* group) {
        const uint32_t groupOffset = offset;
        const uint32_t nameLength = static_cast<uint32_t>(name.GetLength());
        const uint32_t count = static_cast<uint32_t>(group->GetCount());
        ok = ok && out.WriteU32(kHeaderGroupTableOffset + 4 * slot, groupOffset) &&
             out.WriteU16(groupOffset + kGroupSignatureOffset, kGroupSignature) &&
             out.WriteU16(groupOffset + kGroupNameLengthOffset, static_cast<uint16_t>(nameLength)) &&
             out.WriteBytes(groupOffset + kGroupNameOffset, name.GetString(), nameLength) &&
             out.WriteU16(groupOffset + kGroupNameOffset + StoredNameSize(nameLength),
                          static_cast<uint16_t>(count));
        const uint32_t tableOffset = groupOffset + kGroupNameOffset + StoredNameSize(nameLength) + 2;
        offset = groupOffset + GroupRecordSize(nameLength, count);
        for (uint32_t j = 0; ok && j < count; ++j) {
            const EntryBuffer* entry = group->GetAt(static_cast<int>(j));
            const uint32_t length = entry->GetEntryLength();
            ok = out.WriteU32(tableOffset + 4 * j, offset - groupOffset) &&
                 out.WriteBytes(offset, entry->GetData(), length);
            offset += length;
        }
        ++slot;
    });
    if (!ok || offset != size) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    return 1;
}

int BuildContainerImage(const PackageDirectory& directory, MappedFile& image)
{
    if (!image.IsClosed())
        return 0;
    const uint32_t size = directory.GetImageSize();
    if (size == 0) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    if (!image.CreateMemory(nullptr, size, 0))
        return 0;
    ByteSpan out(image.GetData(), image.GetCapacity());
    out.WriteU32(kHeaderMagicOffset, kContainerMagic);
    out.WriteU16(kHeaderVersionOffset, kContainerVersion);
    out.WriteU16(kHeaderEntryTotalOffset, static_cast<uint16_t>(directory.GetEntryCount(nullptr)));
    out.WriteU32(kHeaderReservedOffset, 0);
    out.WriteU16(kHeaderGroupCountOffset, static_cast<uint16_t>(directory.GetGroupCount()));
    out.WriteU32(kHeaderGroupTableOffset, 0);
    if (!directory.WriteImage(image.GetData(), image.GetCapacity())) {
        LastErrorGuard keep;
        image.Close();
        return 0;
    }
    return 1;
}

namespace {

constexpr unsigned kImageFileMode = CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite;

// Writes the whole image through file and closes it. A write that fails is
// returned with the exception's error number and file name; the partly
// written target is deleted, since a partial container is worse than none.
Status WriteOpenedImage(CFile& file, const MappedFile& image, const char* path)
{
    try {
        file.WriteHuge(image.GetData(), image.GetLength());
        file.Flush();
        file.Close();
    } catch (const CFileException& failure) {
        LastErrorGuard keep;
        file.Abort();
        DeletePath(path);
        return Status::Error(static_cast<uint32_t>(failure.m_lOsError), failure.m_strFileName.GetString());
    }
    return Status::Ok();
}

}  // namespace

int WriteImageFile(const MappedFile& image, const char* path)
{
    CFile file;
    if (!file.Open(path, kImageFileMode))
        return 0;
    const Status written = WriteOpenedImage(file, image, path);
    if (!written) {
        const long code = static_cast<long>(written.Code());
        throw CFileException(CFileException::OsErrorToException(code), code, written.Message().c_str());
    }
    return 1;
}

Status SaveImageFile(const MappedFile& image, const char* path)
{
    CFile file;
    if (!file.Open(path, kImageFileMode))
        return Status::LastError();
    return WriteOpenedImage(file, image, path);
}

int WriteContainerImage(const PackageDirectory& directory, const char* path)
{
    MappedFile image;
    if (!BuildContainerImage(directory, image))
        return 0;
    return WriteImageFile(image, path);
}
