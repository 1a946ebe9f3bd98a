// Fuzz target: arbitrary bytes loaded as a container image, written back and reloaded.
//
// Checks: an image the walker refuses loads nothing, and the refusal names
// an offset; a loaded directory always writes an image the reader accepts;
// loading that image gives the same groups and entries, and writing it again
// gives the same bytes. The same bytes loaded as views of a mapping
// (LoadMapped) give the same directory as the copying load, and an entry
// changed through its view is copied, leaving the mapping as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ContainerWalker.h"
#include "MappedFile.h"
#include "PackageDirectory.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool SameEntries(const PackageDirectory& a, const PackageDirectory& b)
{
    CStringArray groups;
    a.ListGroups(groups);
    if (b.GetGroupCount() != groups.GetSize())
        return false;
    for (int i = 0; i < groups.GetSize(); ++i) {
        const PackageGroup* x = a.FindGroup(groups[i]);
        const PackageGroup* y = b.FindGroup(groups[i]);
        if (!x || !y || x->GetCount() != y->GetCount())
            return false;
        for (int j = 0; j < x->GetCount(); ++j) {
            const uint32_t length = x->GetAt(j)->GetEntryLength();
            if (length == 0 || length != y->GetAt(j)->GetEntryLength() ||
                std::memcmp(x->GetAt(j)->GetData(), y->GetAt(j)->GetData(), length) != 0)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    const uint32_t length = static_cast<uint32_t>(size);
    PackageDirectory first;
    const int groups = first.LoadImage(data, length);
    const Status walked = ContainerWalker(ByteView(data, length), ContainerCheck::kLoad).Walk();
    if (!walked) {
        Require(groups == 0 && first.GetGroupCount() == 0);
        Require(walked.Message().find(" at offset 0x") != std::string::npos);
        return 0;
    }
    Require(groups == first.GetGroupCount());

    if (length > 0) {
        auto mapped = std::make_shared<MappedFile>();
        Require(mapped->CreateMemory(nullptr, length, 0) == 1);
        std::memcpy(mapped->GetData(), data, length);
        PackageDirectory views;
        Require(views.LoadMapped(mapped) == groups);
        Require(SameEntries(first, views));
        CStringArray names;
        views.ListGroups(names);
        EntryBuffer* entry = names.GetSize() ? views.FindGroup(names[0])->GetAt(0) : nullptr;
        if (entry) {
            Require(entry->IsView());
            Require(entry->SetAttributes(entry->GetAttributes() ^ 1u) == 1 && entry->IsMemory());
            Require(std::memcmp(mapped->GetData(), data, length) == 0);
        }
    }

    MappedFile image;
    Require(BuildContainerImage(first, image) == 1);
    Require(image.GetLength() == first.GetImageSize());
    Require(ContainerWalker(ByteView(image.GetData(), image.GetLength()), ContainerCheck::kRead).Walk().IsOk());

    PackageDirectory second;
    second.LoadImage(image.GetData(), image.GetLength());
    Require(SameEntries(first, second));

    MappedFile again;
    Require(BuildContainerImage(second, again) == 1);
    Require(again.GetLength() == image.GetLength() &&
            std::memcmp(again.GetData(), image.GetData(), image.GetLength()) == 0);
    return 0;
}
