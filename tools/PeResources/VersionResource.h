// A program's version block (VS_VERSIONINFO): read with every length checked, edited, and written in the same layout.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ByteView.h"
#include "Status.h"

// Four 16-bit parts, most significant first ("2.0.0.0" is {2, 0, 0, 0}).
using VersionNumber = std::array<uint16_t, 4>;

class VersionResource {
public:
    // The fixed block (VS_FIXEDFILEINFO): its size and the signature it starts with.
    static constexpr uint32_t kFixedInfoSize = 52;
    static constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;

    // Reads a version block: nested entries of a 16-bit length, a 16-bit value
    // length, a type (0 binary, 1 text), a NUL-terminated UTF-16 key, the value
    // and the children, each on a 32-bit boundary. The root must be
    // "VS_VERSION_INFO" with a 52-byte fixed block of the right signature.
    // Refused (kErrorInvalidData, the entry named): a length outside its
    // parent or below the header, a key without its NUL, a value reaching past
    // its entry, entries nested deeper than a version block has.
    static Status Parse(ByteView block, VersionResource* out);

    // The block's bytes in the layout Parse reads (what windres writes):
    // refused (kErrorInvalidData) when an entry would exceed the 65,535 bytes
    // its length field holds.
    Status Encode(std::vector<uint8_t>* out) const;

    VersionNumber FileVersion() const { return Version(kFileVersionOffset); }
    VersionNumber ProductVersion() const { return Version(kProductVersionOffset); }
    void SetFileVersion(const VersionNumber& version) { SetVersion(kFileVersionOffset, version); }
    void SetProductVersion(const VersionNumber& version) { SetVersion(kProductVersionOffset, version); }

    // The key of the first string table ("040904b0"); empty without one.
    std::u16string StringTableKey() const;
    // The strings of the first string table in their order, values without their NUL.
    std::vector<std::pair<std::u16string, std::u16string>> Strings() const;
    // The value of key in the first string table; false when it has none.
    bool FindString(const std::u16string& key, std::u16string* value) const;
    // Sets key's value in the first string table, in its place, or appends it.
    // Refused (kErrorInvalidData) when the block has no string table.
    Status SetString(const std::u16string& key, const std::u16string& value);

private:
    struct Entry {
        uint16_t valueLength = 0;
        uint16_t type = 0;
        std::u16string key;
        std::vector<uint8_t> value;
        std::vector<Entry> children;
    };
    // Offsets in the fixed block (VS_FIXEDFILEINFO) of the versions' two 32-bit words.
    static constexpr uint32_t kFileVersionOffset = 8;
    static constexpr uint32_t kProductVersionOffset = 16;

    static Status ParseEntry(ByteView block, uint32_t offset, uint32_t end, int depth, Entry* entry);
    static Status EncodeEntry(const Entry& entry, std::vector<uint8_t>* out);
    VersionNumber Version(uint32_t offset) const;
    void SetVersion(uint32_t offset, const VersionNumber& version);
    const Entry* StringTable() const;
    Entry* StringTable();

    Entry root_;
};

// "a.b.c.d".
std::string VersionNumberText(const VersionNumber& version);
