// The in-memory package: groups of entry buffers keyed by exact group name.
//
// Groups live in a StringKeyMap (block size 10) whose iteration order is the
// order of the groups in every image written from the directory. Group names
// are compared exactly (CompareMbs), entry names ignoring case (CompareNoCase).
// The directory owns its groups; each group owns the buffers added as owned.
// A null group name means the group with the empty name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "ByteView.h"
#include "CStringArray.h"
#include "EntryBuffer.h"
#include "MappedFile.h"
#include "PackageGroup.h"
#include "Status.h"
#include "StringKeyMap.h"

class PackageDirectory {
public:
    PackageDirectory();
    // Deletes every group (and so every owned buffer).
    ~PackageDirectory();
    PackageDirectory(const PackageDirectory&) = delete;
    PackageDirectory& operator=(const PackageDirectory&) = delete;

    // Loads every group and file entry of a container image of `size` bytes,
    // adding to what the directory holds. The whole image is walked first
    // (ContainerWalker, kLoad): an image that is not a valid container loads
    // nothing and gives 0. Groups without the signature and children that are
    // not file entries are skipped; of groups with the same exact name the
    // last in table order is loaded, and it replaces (deletes) a group the
    // directory already held under that name. Groups are inserted in reverse
    // table order so that the map's iteration order, and with it the next
    // image written, follows the table of the loaded image. Each entry is
    // copied, compressed or not, into its own owned buffer; an entry whose
    // buffer cannot be created is skipped. Result: the number of groups held
    // afterwards, or 0 for an invalid image.
    int LoadImage(const uint8_t* image, uint32_t size);
    // LoadImage of a mapped package file without copying: every entry is a
    // view of file (EntryBuffer::CreateView), which stays mapped while any of
    // them does. An entry is copied only when it is changed.
    int LoadMapped(const std::shared_ptr<const MappedFile>& file);

    // Adds buffer under entryName to the group, creating the group when
    // missing. The first entry whose stored name equals entryName ignoring
    // case is replaced in place (deleted when the group owned it); otherwise
    // the buffer is appended. With owned set the group deletes the buffer
    // later. A buffer must be in at most one place of the directory.
    // 1 when added; 0 (nothing taken) for a null buffer, one that does not
    // hold a whole entry, or a group name above 259 bytes (last-error 87).
    int AddEntry(EntryBuffer* buffer, const char* group, const char* entryName, int owned);
    // 1 when removed (and deleted when owned); 0 if the group or entry does not exist.
    int RemoveEntry(const char* entryName, const char* group);
    // The buffer itself, or null.
    EntryBuffer* FindEntry(const char* entryName, const char* group) const;
    PackageGroup* FindGroup(const char* group) const;

    int GetGroupCount() const { return groups_.GetCount(); }
    // Every group with its name, in map order (the order images are written in).
    void VisitGroups(const std::function<void(const CString& name, PackageGroup& group)>& visit) const;
    // Entries of the group (0 if it does not exist); with a null group, the
    // sum over all groups.
    int GetEntryCount(const char* group) const;
    // Appends the group names in map order; returns the array's new size.
    int ListGroups(CStringArray& names) const;
    // 0 if the group does not exist; else appends each entry name in order, 1.
    int ListEntries(const char* group, CStringArray& names) const;

    // Byte size of the image WriteImage produces: the header plus every group
    // record plus every entry. 0 when the directory cannot be written as a
    // container: more than 65535 groups, entries in a group or entries in all,
    // an image of 4 GiB or more, or a buffer that does not hold a whole entry.
    uint32_t GetImageSize() const;
    // Writes everything after the first 14 header bytes (group table, group
    // records, entries) into a zero-filled image of exactly GetImageSize()
    // bytes. 1 on success; 0 (last-error 87) when size is not the image size
    // or the directory cannot be written.
    int WriteImage(uint8_t* image, uint32_t size) const;

private:
    // The loading rules of LoadImage; makeEntry(buffer, offset, length) fills
    // a new buffer with the entry at offset of the image.
    template <typename MakeEntry>
    int LoadWalked(const ByteView& view, MakeEntry makeEntry);
    // Calls visit(name, group) for every group in map order.
    template <typename Visit>
    void ForEachGroup(Visit visit) const;
    void DeleteAllGroups();

    StringKeyMap groups_;
};

// Builds a complete container image of the directory in `image` (closed on
// entry): an anonymous block of GetImageSize() bytes with the header (magic,
// version 0x0200, entry total, reserved 0, group count) and the rest written by
// WriteImage. 1 on success; 0 when the directory cannot be written (87), the
// block cannot be created (the platform's code) or image is already open.
int BuildContainerImage(const PackageDirectory& directory, MappedFile& image);

// Writes a built image to path with CFile (modeCreate | modeWrite |
// shareDenyWrite, WriteHuge, Flush, Close). 0 when the file cannot be opened
// (last-error from the open). A CFileException from writing is not handled
// here; it propagates, but the partly written file is deleted first.
int WriteImageFile(const MappedFile& image, const char* path);

// WriteImageFile with every failure as the result: the open's error, or the
// write's (the partly written file deleted; the message is the file name the
// exception carried). Never throws a CFileException.
Status SaveImageFile(const MappedFile& image, const char* path);

// BuildContainerImage, then WriteImageFile.
int WriteContainerImage(const PackageDirectory& directory, const char* path);
