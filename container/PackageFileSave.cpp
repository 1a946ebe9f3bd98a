// Saving a package: the image streamed into a new file beside the old one, which then takes its place.
#include "PackageFileSave.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CFile.h"
#include "CFileException.h"
#include "ContainerFormat.h"
#include "SystemApi.h"

namespace {

// Small records are gathered to this size before they are written; entry
// data of this size or more goes to the file straight from where it is held.
constexpr uint32_t kGatherSize = 256 * 1024;

// Little-endian records into a file, gathered; throws the file's CFileException.
class ImageStream {
public:
    explicit ImageStream(CFile& file) : file_(file) { gathered_.reserve(kGatherSize); }

    void U16(uint16_t v)
    {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        Put(b, 2);
    }
    void U32(uint32_t v)
    {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 24)};
        Put(b, 4);
    }
    void Put(const void* data, uint32_t length)
    {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        if (length >= kGatherSize) {
            Flush();
            file_.WriteHuge(bytes, length);
        } else {
            if (gathered_.size() + length > kGatherSize)
                Flush();
            gathered_.insert(gathered_.end(), bytes, bytes + length);
        }
        written_ += length;
    }
    void Flush()
    {
        if (!gathered_.empty())
            file_.WriteHuge(gathered_.data(), static_cast<uint32_t>(gathered_.size()));
        gathered_.clear();
    }
    uint64_t Written() const { return written_; }

private:
    CFile& file_;
    std::vector<uint8_t> gathered_;
    uint64_t written_ = 0;
};

struct GroupOut {
    CString name;
    PackageGroup* group;
};

// Where an entry went in the new file.
struct Placed {
    EntryBuffer* entry;
    uint32_t offset;
    bool owned;
};

// The folder part of path, "." when it has none.
void FolderOf(const char* path, char (&folder)[kMaxPath])
{
    size_t cut = 0;
    bool found = false;
    for (size_t i = 0; path[i]; ++i) {
        if (IsLeadByte(static_cast<uint8_t>(path[i])) && path[i + 1]) {
            ++i;
            continue;
        }
        if (path[i] == '\\' || path[i] == '/' || path[i] == kPathSeparator) {
            cut = i;
            found = true;
        }
    }
    if (!found) {
        std::strcpy(folder, ".");
        return;
    }
    // A file in the root keeps its separator: "C:\\x" is in "C:\\", "/x" in "/".
    size_t length = cut == 0 || (cut == 2 && path[1] == ':') ? cut + 1 : cut;
    if (length >= static_cast<size_t>(kMaxPath))
        length = kMaxPath - 1;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
}

// Creates a new file beside path, named "~oemXXXX.tmp" in path's folder, and
// opens it for writing as the package itself used to be opened. 0 with the
// open's error (so a missing or read-only folder reports what writing the
// package would have).
int CreateBeside(const char* path, char (&temporary)[kMaxPath], CFile& file)
{
    char folder[kMaxPath];
    FolderOf(path, folder);
    static uint32_t next = GetSystemFileTime().lowDateTime;
    const size_t folderLength = std::strlen(folder);
    const bool separator = folder[folderLength - 1] != '\\' && folder[folderLength - 1] != kPathSeparator;
    for (int tries = 0; tries < 256; ++tries) {
        char name[16];
        std::snprintf(name, sizeof name, "~oem%04X.tmp", static_cast<unsigned>(next++ & 0xFFFF));
        std::string candidate = std::string(folder) + (separator ? std::string(1, kPathSeparator) : "") + name;
        if (candidate.size() >= static_cast<size_t>(kMaxPath)) {
            SetLastErrorValue(kErrorFilenameExcedRange);
            return 0;
        }
        std::memcpy(temporary, candidate.c_str(), candidate.size() + 1);
        if (PathExists(temporary))
            continue;
        return file.Open(temporary, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite);
    }
    SetLastErrorValue(kErrorFileExists);
    return 0;
}

// The image of groups, streamed into file; placed receives every entry's offset.
void StreamImage(const std::vector<GroupOut>& groups, uint32_t entryTotal, CFile& file, std::vector<Placed>& placed)
{
    ImageStream out(file);
    const uint32_t groupCount = static_cast<uint32_t>(groups.size());
    out.U32(kContainerMagic);
    out.U16(kContainerVersion);
    out.U16(static_cast<uint16_t>(entryTotal));
    out.U32(0);
    out.U16(static_cast<uint16_t>(groupCount));
    // The group table first: every group's offset follows from the sizes before it.
    uint32_t offset = HeaderSize(groupCount);
    std::vector<uint32_t> groupOffsets;
    groupOffsets.reserve(groups.size());
    for (const GroupOut& g : groups) {
        groupOffsets.push_back(offset);
        const uint32_t count = static_cast<uint32_t>(g.group->GetCount());
        offset += GroupRecordSize(static_cast<uint32_t>(g.name.GetLength()), count);
        for (int j = 0; j < g.group->GetCount(); ++j)
            offset += g.group->GetAt(j)->GetEntryLength();
    }
    if (groups.empty())
        out.U32(0);
    for (uint32_t groupOffset : groupOffsets)
        out.U32(groupOffset);

    for (size_t i = 0; i < groups.size(); ++i) {
        const GroupOut& g = groups[i];
        const uint32_t nameLength = static_cast<uint32_t>(g.name.GetLength());
        const uint32_t count = static_cast<uint32_t>(g.group->GetCount());
        out.U16(kGroupSignature);
        out.U16(static_cast<uint16_t>(nameLength));
        if (nameLength) {
            out.Put(g.name.GetString(), nameLength);
        } else {
            const uint8_t emptyName = 0;
            out.Put(&emptyName, 1);
        }
        out.U16(static_cast<uint16_t>(count));
        uint32_t relative = GroupRecordSize(nameLength, count);
        if (count == 0)
            out.U32(0);
        for (uint32_t j = 0; j < count; ++j) {
            out.U32(relative);
            relative += g.group->GetAt(static_cast<int>(j))->GetEntryLength();
        }
        uint32_t at = groupOffsets[i] + GroupRecordSize(nameLength, count);
        for (uint32_t j = 0; j < count; ++j) {
            EntryBuffer* entry = g.group->GetAt(static_cast<int>(j));
            const uint32_t length = entry->GetEntryLength();
            out.Put(entry->GetData(), length);
            placed.push_back({entry, at, g.group->Owns(entry) != 0});
            at += length;
        }
    }
    out.Flush();
}

}  // namespace

int SavePackageFile(PackageDirectory& directory, const char* path, PackageMapping& held)
{
    const uint32_t size = directory.GetImageSize();
    if (size == 0) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    std::vector<GroupOut> groups;
    directory.VisitGroups([&groups](const CString& name, PackageGroup& group) { groups.push_back({name, &group}); });
    const uint32_t entryTotal = static_cast<uint32_t>(directory.GetEntryCount(nullptr));

    char temporary[kMaxPath];
    CFile file;
    if (!CreateBeside(path, temporary, file))
        return 0;
    std::vector<Placed> placed;
    placed.reserve(entryTotal);
    try {
        StreamImage(groups, entryTotal, file, placed);
        file.Flush();
        file.Close();
    } catch (const CFileException& failure) {
        file.Abort();
        DeletePath(temporary);
        throw CFileException(failure.m_cause, failure.m_lOsError, path);
    }

    auto fresh = std::make_shared<MappedFile>();
    if (!fresh->OpenShared(temporary) || fresh->GetLength() != size) {
        if (!fresh->IsClosed())
            SetLastErrorValue(kErrorInvalidData);
        LastErrorGuard keep;
        fresh.reset();
        DeletePath(temporary);
        return 0;
    }

    // The entries that view the old file let go of it before it is replaced.
    struct Moved {
        EntryBuffer* entry;
        uint32_t offset;
    };
    std::vector<Moved> moved;
    // Compared by address only: no reference may keep the old file open.
    const MappedFile* old = held.file.get();
    for (const Placed& p : placed) {
        if (!old || !p.entry->IsView() || p.entry->GetViewOwner().get() != old)
            continue;
        const uint32_t offset = static_cast<uint32_t>(p.entry->GetData() - old->GetData());
        if (p.entry->MoveTo(fresh, p.offset))
            moved.push_back({p.entry, offset});
    }
    const CString oldPath = held.path;
    const bool hadFile = old != nullptr;
    held.file.reset();
    // Only the entries that could not move (none, unless the directory changed
    // under the save) still hold the old file here.
    if (!ReplacePath(temporary, path)) {
        LastErrorGuard keep;
        // The old file is as it was: the entries go back to it.
        auto again = std::make_shared<MappedFile>();
        if (hadFile && again->OpenShared(oldPath.GetString())) {
            for (const Moved& m : moved)
                m.entry->MoveTo(again, m.offset);
            held.file = again;
        }
        bool stillViewed = false;
        for (const Moved& m : moved)
            stillViewed = stillViewed || (m.entry->IsView() && m.entry->GetViewOwner() == fresh);
        if (stillViewed) {
            // The old file is gone: the entries keep viewing the new one, which
            // POSIX lets go of its name while mapped, Windows not.
            held.file = fresh;
            held.path = temporary;
        }
        fresh.reset();
        DeletePath(temporary);
        return 0;
    }
    held.file = fresh;
    held.path = path;
    // Entries copied or added since the package was opened become views of
    // the new file as well, and give their memory back.
    for (const Placed& p : placed) {
        if (p.owned && p.entry->IsMemory())
            p.entry->MoveTo(fresh, p.offset);
    }
    return 1;
}
