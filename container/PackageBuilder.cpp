// Batch builder of container files from a list of files and groups.
#include "PackageBuilder.h"

#include <memory>
#include <new>

#include "CFile.h"
#include "EntryBuilder.h"
#include "MappedFile.h"
#include "PackageDirectory.h"
#include "SystemApi.h"

void PackageBuilder::Init(const char* targetPath, uint32_t merge)
{
    targetPath_ = targetPath;
    merge_ = merge;
}

CString PackageBuilder::ComposeItem(const char* path, const char* group)
{
    CString item;
    if (group && *group)
        item.Format("%s\n%s", path ? path : "", group);
    else
        item = path;
    return item;
}

int PackageBuilder::FindItem(const char* path, const char* group) const
{
    const CString item = ComposeItem(path, group);
    for (int i = 0; i < items_.GetSize(); ++i) {
        if (CompareMbsNoCase(items_[i], item) == 0)
            return i;
    }
    return -1;
}

int PackageBuilder::AddItem(const char* path, const char* group)
{
    // A line feed in the path would move the split between path and group.
    if (!path || !*path || CString(path).Find('\n') >= 0) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    if (FindItem(path, group) >= 0)
        return 1;
    CFile probe;
    if (!probe.Open(path, CFile::modeRead | CFile::shareDenyNone))
        return 0;
    probe.Abort();
    items_.Add(ComposeItem(path, group));
    return 1;
}

void PackageBuilder::RemoveItem(const char* path, const char* group)
{
    int index = FindItem(path, group);
    if (index >= 0)
        items_.RemoveAt(index);
}

int PackageBuilder::GetItem(int index, CString& path, CString& group) const
{
    if (index < 0 || index >= items_.GetSize())
        return 0;
    const CString& item = items_[index];
    int split = item.Find('\n');
    if (split < 0) {
        path = item;
        group.Empty();
    } else {
        path = item.Left(split);
        group = item.Mid(split + 1);
    }
    return 1;
}

int PackageBuilder::Build()
{
    const int count = items_.GetSize();
    if (targetPath_.IsEmpty() || count == 0) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    std::unique_ptr<EntryBuffer[]> buffers(new (std::nothrow) EntryBuffer[count]);
    if (!buffers) {
        SetLastErrorValue(kErrorNotEnoughMemory);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        CString path, group;
        GetItem(i, path, group);
        MappedFile source;
        if (!source.OpenFile(path, 1, kOpenExisting, 0) || !BuildEntry(source, path, buffers[i], 1))
            return 0;
    }

    MappedFile image;
    {
        // The directory refers to the buffers without owning them, so it must
        // be gone before they are.
        PackageDirectory directory;
        if (merge_) {
            MappedFile existing;
            if (existing.OpenFile(targetPath_, 1, kOpenExisting, 0))
                directory.LoadImage(existing.GetData(), existing.GetCapacity());
        }
        for (int i = 0; i < count; ++i) {
            CString path, group;
            GetItem(i, path, group);
            if (!directory.AddEntry(&buffers[i], group, FileNamePart(path), 0))
                return 0;
        }
        if (!BuildContainerImage(directory, image))
            return 0;
    }
    // The image holds copies of every entry.
    buffers.reset();

    if (!WriteImageFile(image, targetPath_))
        return 0;
    items_.RemoveAll();
    return 1;
}
