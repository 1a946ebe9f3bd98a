// The one walk over a container image, shared by every reader, with a diagnosis for each refusal.
//
// The walker reads the image only through ByteView, in table order: the
// header and its group table; for each group slot, the group record with its
// name and entry table; for each entry slot of a group, the child it names.
// It stops at the first fault and returns it as a Status whose message says
// what is wrong and where:
//
//   <place> at offset 0x<hex>: <what>
//
// where place is "header", "group table", "group G", "group G \"name\"" or
// "entry E[ \"name\"] of group G[ \"name\"]" (names once they are known to lie
// inside the image, control bytes shown as \xNN), G and E are slot indices
// counted from 0, and the offset is that of the record (for an entry, the
// group record's offset plus the table's value, which may lie beyond the
// image). For example:
//
//   entry 3 "setup.exe" of group 1 "Commonfiles" at offset 0x1234: stored data
//   (5000 bytes at 0x1265) reaches past the end of the image (4096 bytes)
//
// Codes: kErrorBadFormat (11) when the image does not start with "BOEM",
// kErrorNotSupported (50) for a version other than 0x0200 (kRead only), and
// kErrorInvalidData (13) for every other fault, all of which mean damage.
//
// Refused, in walk order (the first one found is reported):
// - fewer than 4 bytes, or no "BOEM" magic;
// - fewer than 14 bytes, or a group table (4 x max(G, 1) bytes) that does not fit;
// - kRead: a version other than 0x0200;
// - per group slot: a record offset whose 2-byte signature does not fit;
//   kRead: a signature other than 0xFCEC (kLoad skips that slot);
//   a record, name (at most 259 bytes) or entry table that does not fit;
//   more than 65535 entry slots over all signed groups so far;
// - per entry slot: a child offset whose 2-byte kind does not fit (children
//   of another kind are skipped); a record, name (at most 259 bytes) or
//   stored data that does not fit; file entries whose lengths add up to more
//   than the image (they must share bytes).
// The slot limit and the shared bytes refuse what no writer produces and what
// would multiply the work and memory of whoever walks the container. Neither the entry total
// nor the reserved field is checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ByteView.h"
#include "ContainerFormat.h"
#include "Status.h"

// A file entry as the walk found it. The name is the stored name up to its
// first zero byte, as every consumer sees it once copied into a 260-byte
// buffer.
struct WalkedEntry {
    uint32_t slot = 0;  // in the group's entry table
    std::string name;
    EntryRecord record;
};

// A group with the group signature, and its file entries in table order.
struct WalkedGroup {
    uint32_t slot = 0;  // in the header's group table
    std::string name;   // up to the first zero byte, as for entries
    GroupRecord record;
    std::vector<WalkedEntry> entries;
    uint32_t skippedChildren = 0;  // entry slots whose child is not a file entry
};

// Everything a walk reached.
struct WalkedContainer {
    uint32_t imageSize = 0;
    ContainerHeader header;
    std::vector<WalkedGroup> groups;  // in table order
    uint32_t skippedGroups = 0;       // slots without the group signature (kLoad)
    uint32_t fileEntries = 0;
};

class ContainerWalker {
public:
    // The image is not copied; it must stay alive and unchanged while Walk
    // runs, and the offsets Walk returns point into it.
    ContainerWalker(const ByteView& image, ContainerCheck check) : image_(image), check_(check) {}

    // Walks the whole image. Ok when it is a valid container for the
    // consumer; then contents (when given) holds everything reached. Else the
    // diagnosis described above, and contents is left empty. Time and memory
    // are linear in the number of groups and entry slots; nothing is
    // allocated when contents is null and the image is valid.
    Status Walk(WalkedContainer* contents = nullptr) const;

    // One entry record at offset of bytes (the block of an EntryBuffer): the
    // record, its name of at most 259 bytes and its stored data must lie
    // inside bytes; the kind is not checked. The diagnosis names the place
    // "entry[ \"name\"] at offset 0x<hex>".
    static Status ReadEntry(const ByteView& bytes, uint32_t offset, EntryRecord* record);

private:
    class Place;

    Status WalkInto(WalkedContainer* contents) const;
    // The entry slots of group g; file entries are added to walked (when
    // given) and their lengths to *fileBytes.
    Status WalkEntries(uint32_t g, const GroupRecord& group, WalkedGroup* walked, uint64_t* fileBytes) const;
    Status ReadHeader(ContainerHeader* header) const;
    Status ReadGroup(Place& place, uint32_t offset, GroupRecord* group) const;
    static Status ReadEntryAt(const ByteView& bytes, uint32_t offset, Place& place, EntryRecord* entry);

    ByteView image_;
    ContainerCheck check_;
};

// How a diagnosis names a walked group or entry: "group 1 \"Bin\" at offset
// 0x1F", "entry 3 \"a.txt\" of group 1 \"Bin\" at offset 0x1234".
std::string DescribeGroup(const WalkedGroup& group);
std::string DescribeEntry(const WalkedGroup& group, const WalkedEntry& entry);

// Lookups by name follow the readers' rule: names compare ignoring case
// (CompareNoCase) and the first match in table order wins. Null when none.
const WalkedGroup* FindWalkedGroup(const WalkedContainer& contents, const char* name);
const WalkedEntry* FindWalkedEntry(const WalkedGroup& group, const char* name);

// Which groups, and which entries of a group, a lookup by name can reach: for
// each in table order, true when no earlier one's name equals its name
// ignoring case. O(n log n) comparisons.
std::vector<bool> ReachableGroups(const WalkedContainer& contents);
std::vector<bool> ReachableEntries(const WalkedGroup& group);
