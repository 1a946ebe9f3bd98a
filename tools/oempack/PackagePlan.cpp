// Collects the groups and entries of a new package and refuses what the format cannot carry.
#include "PackagePlan.h"

#include "ContainerFormat.h"
#include "EntryExtraction.h"
#include "SystemApi.h"

namespace {

// A key under which names that compare equal ignoring case meet: ASCII
// letters folded, every other byte of 0x80 and up made the same, so that the
// locale's own case rules are left to the final comparison.
std::string FoldedName(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        else if (static_cast<unsigned char>(c) >= 0x80)
            c = static_cast<char>(0x80);
    }
    return key;
}

}  // namespace

Status CheckName(const std::string& name, const char* what)
{
    if (name.empty())
        return Status::Error(kErrorInvalidName, std::string("empty ") + what + " name");
    if (name.size() > kMaxNameLength)
        return Status::Error(kErrorFilenameExcedRange,
                             std::string(what) + " name '" + name + "' is " + std::to_string(name.size()) +
                                 " bytes long; at most " + std::to_string(kMaxNameLength) + " fit");
    if (IsWindowsDeviceName(name.c_str()))
        return Status::Error(kErrorInvalidName, std::string(what) + " name '" + name +
                                                    "' is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)");
    // Byte by byte as well: the entry builder cuts a name at any separator
    // byte, also at the second byte of a double-byte character.
    if (name.find_first_of(std::string("\\/:\0", 4)) != std::string::npos || !IsBareFileName(name.c_str()))
        return Status::Error(kErrorInvalidName,
                             std::string(what) + " name '" + name +
                                 "' is not a bare file name (it holds '\\', '/' or ':', also as the second byte "
                                 "of a double-byte character, or is '.' or '..')");
    return Status::Ok();
}

std::string FileNameOf(const std::string& path)
{
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsLeadByte(c) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/' || c == ':')
            start = i + 1;
    }
    return path.substr(start);
}

uint64_t ContainerSizeFor(const std::vector<PlannedGroup>& groups)
{
    uint64_t total = HeaderSize(static_cast<uint32_t>(groups.size() > kMaxCount ? kMaxCount : groups.size()));
    for (const PlannedGroup& g : groups) {
        size_t count = g.entries.size() > kMaxCount ? kMaxCount : g.entries.size();
        total += GroupRecordSize(static_cast<uint32_t>(g.name.size()), static_cast<uint32_t>(count));
        for (const PlannedEntry& e : g.entries) {
            uint32_t stored = e.size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(e.size);
            total += EntrySize(static_cast<uint32_t>(e.name.size()), stored);
        }
    }
    return total;
}

uint64_t PackagePlan::UncompressedImageSize() const
{
    return ContainerSizeFor(groups_);
}

Status PackagePlan::AddFile(const std::string& group, const std::string& name, const std::string& sourcePath,
                            uint64_t size)
{
    PlannedEntry entry;
    entry.name = name;
    entry.sourcePath = sourcePath;
    entry.size = size;
    return Add(group, std::move(entry));
}

Status PackagePlan::AddContent(const std::string& group, const std::string& name, const std::string& content)
{
    PlannedEntry entry;
    entry.name = name;
    entry.size = content.size();
    entry.content = content;
    entry.inMemory = true;
    return Add(group, std::move(entry));
}

Status PackagePlan::Add(const std::string& group, PlannedEntry entry)
{
    const std::string& source = entry.inMemory ? entry.name : entry.sourcePath;
    Status named = CheckName(group, "group");
    if (named)
        named = CheckName(entry.name, "entry");
    if (!named)
        return named.WithContext(source);
    if (entry.size > 0xFFFFFFFFull)
        return Status::Error(kErrorInvalidParameter, source + ": files of 4 GiB or more cannot be packed");
    if (entryCount_ >= kMaxCount)
        return Status::Error(kErrorInvalidParameter,
                             source + ": a package holds at most " + std::to_string(kMaxCount) + " entries");
    auto found = groupIndex_.find(group);
    size_t groupIndex;
    if (found == groupIndex_.end()) {
        groupIndex = groups_.size();
        groups_.push_back(PlannedGroup{group, {}});
        entryIndex_.emplace_back();
        groupIndex_[group] = groupIndex;
    } else {
        groupIndex = found->second;
    }
    PlannedGroup& target = groups_[groupIndex];
    auto& names = entryIndex_[groupIndex];
    const std::string key = FoldedName(entry.name);
    auto range = names.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
        const PlannedEntry& e = target.entries[it->second];
        if (CompareNoCase(e.name.c_str(), entry.name.c_str()) == 0)
            return Status::Error(kErrorAlreadyExists,
                                 source + ": group '" + group + "' already holds an entry named '" + e.name + "'" +
                                     (e.inMemory ? std::string() : " (from " + e.sourcePath + ")"));
    }
    names.emplace(key, target.entries.size());
    totalBytes_ += entry.size;
    ++entryCount_;
    target.entries.push_back(std::move(entry));
    return Status::Ok();
}
