// A resource type, name or language: a 16-bit number or a UTF-16 name.
#pragma once

#include <cstdint>
#include <string>

class ResourceId {
public:
    ResourceId() = default;
    static ResourceId Number(uint16_t number);
    static ResourceId Name(std::u16string name);
    // A name from ASCII text (each byte becomes one UTF-16 unit).
    static ResourceId AsciiName(const char* name);

    bool IsName() const { return isName_; }
    uint16_t Number() const { return number_; }
    const std::u16string& Name() const { return name_; }

    // The order of entries in a resource directory, which the loader's binary
    // search relies on: names before numbers, names by their UTF-16 units (a
    // prefix first), numbers by value.
    bool operator<(const ResourceId& other) const;
    bool operator==(const ResourceId& other) const;
    bool operator!=(const ResourceId& other) const { return !(*this == other); }
    // Equal with the ASCII letters of names folded. The loader upper-cases the
    // names it is asked for, so names differing only so are the same resource.
    bool SameIgnoringCase(const ResourceId& other) const;

    // "OEMDATA" or "#101", for messages; units outside printable ASCII as \uXXXX.
    std::string Describe() const;

private:
    bool isName_ = false;
    uint16_t number_ = 0;
    std::u16string name_;
};
