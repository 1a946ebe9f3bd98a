// Builds small program images and resource directories byte by byte for the PE tests.
#include "PeTestImage.h"

#include <algorithm>

namespace petest {

uint32_t GetU32(const std::vector<uint8_t>& bytes, uint32_t offset)
{
    return uint32_t(bytes.at(offset)) | uint32_t(bytes.at(offset + 1)) << 8 | uint32_t(bytes.at(offset + 2)) << 16 |
           uint32_t(bytes.at(offset + 3)) << 24;
}

void PutU32(std::vector<uint8_t>* bytes, uint32_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes->at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

void PutU16(std::vector<uint8_t>* bytes, uint32_t offset, uint16_t value)
{
    bytes->at(offset) = static_cast<uint8_t>(value);
    bytes->at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

namespace {

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

void Grow(std::vector<uint8_t>* bytes, uint32_t size)
{
    if (bytes->size() < size)
        bytes->resize(size, 0);
}

// A type or name with what lies under it, in first-seen order.
struct Node {
    ResourceId id;
    std::vector<Node> children;
    const Resource* leaf = nullptr;
};

Node* Child(std::vector<Node>* nodes, const ResourceId& id)
{
    for (Node& n : *nodes) {
        if (n.id == id)
            return &n;
    }
    nodes->push_back(Node{id, {}, nullptr});
    return &nodes->back();
}

}  // namespace

std::vector<uint8_t> EncodeResources(const std::vector<Resource>& resources, uint32_t sectionRva)
{
    std::vector<Node> types;
    for (const Resource& r : resources) {
        Node* name = Child(&Child(&types, r.type)->children, r.name);
        name->children.push_back(Node{ResourceId::Number(r.language), {}, &r});
    }
    std::vector<uint8_t> out;
    std::vector<std::pair<uint32_t, std::u16string>> names;  // name field offset, text
    std::vector<std::pair<uint32_t, const Resource*>> data;  // data entry offset, resource
    auto table = [&out](size_t entries) {
        const uint32_t at = static_cast<uint32_t>(out.size());
        Grow(&out, at + 16 + 8 * static_cast<uint32_t>(entries));
        return at;
    };
    auto entry = [&out, &names](uint32_t tableAt, size_t index, const ResourceId& id, uint32_t target) {
        const uint32_t at = tableAt + 16 + 8 * static_cast<uint32_t>(index);
        if (id.IsName()) {
            PutU16(&out, tableAt + 12, static_cast<uint16_t>(GetU32(out, tableAt + 12) + 1));
            names.emplace_back(at, id.Name());
        } else {
            PutU32(&out, at, id.Number());
            PutU16(&out, tableAt + 14, static_cast<uint16_t>(GetU32(out, tableAt + 14) + 1));
        }
        PutU32(&out, at + 4, target);
    };
    const uint32_t root = table(types.size());
    for (size_t t = 0; t < types.size(); ++t) {
        const uint32_t typeTable = table(types[t].children.size());
        entry(root, t, types[t].id, 0x80000000u | typeTable);
        for (size_t n = 0; n < types[t].children.size(); ++n) {
            const Node& name = types[t].children[n];
            const uint32_t nameTable = table(name.children.size());
            entry(typeTable, n, name.id, 0x80000000u | nameTable);
            for (size_t l = 0; l < name.children.size(); ++l) {
                const uint32_t dataEntry = static_cast<uint32_t>(out.size());
                Grow(&out, dataEntry + 16);
                entry(nameTable, l, name.children[l].id, dataEntry);
                data.emplace_back(dataEntry, name.children[l].leaf);
            }
        }
    }
    for (const auto& n : names) {
        const uint32_t at = AlignUp(static_cast<uint32_t>(out.size()), 2);
        Grow(&out, at + 2 + 2 * static_cast<uint32_t>(n.second.size()));
        PutU16(&out, at, static_cast<uint16_t>(n.second.size()));
        for (size_t i = 0; i < n.second.size(); ++i)
            PutU16(&out, at + 2 + 2 * static_cast<uint32_t>(i), n.second[i]);
        PutU32(&out, n.first, 0x80000000u | at);
    }
    for (const auto& d : data) {
        const uint32_t at = AlignUp(static_cast<uint32_t>(out.size()), 4);
        Grow(&out, at + static_cast<uint32_t>(d.second->bytes.size()));
        std::copy(d.second->bytes.begin(), d.second->bytes.end(), out.begin() + at);
        PutU32(&out, d.first, sectionRva + at);
        PutU32(&out, d.first + 4, static_cast<uint32_t>(d.second->bytes.size()));
        PutU32(&out, d.first + 8, d.second->codePage);
    }
    return out;
}

Image BuildImage(const ImageLayout& shape)
{
    Image image;
    std::vector<uint8_t>& b = image.bytes;
    b.assign(shape.sizeOfHeaders, 0);
    b[0] = 'M';
    b[1] = 'Z';
    const uint32_t pe = 0x80;
    PutU32(&b, 0x3C, pe);
    b[pe] = 'P';
    b[pe + 1] = 'E';
    const uint32_t coff = pe + 4;
    PutU16(&b, coff, shape.machine != 0 ? shape.machine : shape.pe32Plus ? 0x8664 : 0x14C);
    PutU16(&b, coff + 2, static_cast<uint16_t>(shape.sections.size()));
    const uint16_t optionalSize = shape.pe32Plus ? 112 + 128 : 96 + 128;
    PutU16(&b, coff + 16, optionalSize);
    PutU16(&b, coff + 18, 0x0102);
    const uint32_t opt = coff + 20;
    image.optionalHeader = opt;
    PutU16(&b, opt, shape.pe32Plus ? 0x20B : 0x10B);
    PutU32(&b, opt + 32, shape.sectionAlignment);
    PutU32(&b, opt + 36, shape.fileAlignment);
    PutU32(&b, opt + 60, shape.sizeOfHeaders);
    PutU16(&b, opt + 68, 2);
    const uint32_t directories = opt + (shape.pe32Plus ? 112 : 96);
    PutU32(&b, directories - 4, 16);
    for (uint32_t i = 0; i < 16; ++i) {
        PutU32(&b, directories + 8 * i, shape.directoryRva[i]);
        PutU32(&b, directories + 8 * i + 4, shape.directorySize[i]);
    }
    image.sectionTable = opt + optionalSize;
    uint32_t file = shape.sizeOfHeaders;
    uint32_t imageEnd = shape.sizeOfHeaders;
    uint32_t initialized = 0;
    for (size_t i = 0; i < shape.sections.size(); ++i) {
        const Section& s = shape.sections[i];
        const uint32_t header = image.sectionTable + 40 * static_cast<uint32_t>(i);
        std::copy(s.name.begin(), s.name.end(), b.begin() + header);
        const uint32_t raw = AlignUp(static_cast<uint32_t>(s.raw.size()), shape.fileAlignment);
        const uint32_t virtualSize = s.virtualSize != 0 ? s.virtualSize : static_cast<uint32_t>(s.raw.size());
        PutU32(&b, header + 8, virtualSize);
        PutU32(&b, header + 12, s.rva);
        PutU32(&b, header + 16, raw);
        PutU32(&b, header + 20, raw != 0 ? file : 0);
        PutU32(&b, header + 36, s.characteristics);
        image.sectionFileOffsets.push_back(raw != 0 ? file : 0);
        if (raw != 0) {
            Grow(&b, file + raw);
            std::copy(s.raw.begin(), s.raw.end(), b.begin() + file);
            file += raw;
        }
        if (s.characteristics & 0x40)
            initialized += raw;
        imageEnd = std::max(imageEnd, AlignUp(s.rva + virtualSize, shape.sectionAlignment));
    }
    PutU32(&b, opt + 8, initialized);
    PutU32(&b, opt + 56, imageEnd);
    if (shape.symbolsAt >= 0)
        PutU32(&b, coff + 8, file + static_cast<uint32_t>(shape.symbolsAt));
    b.insert(b.end(), shape.overlay.begin(), shape.overlay.end());
    if (!shape.certificate.empty()) {
        const uint32_t at = AlignUp(static_cast<uint32_t>(b.size()), 8);
        Grow(&b, at);
        b.insert(b.end(), shape.certificate.begin(), shape.certificate.end());
        PutU32(&b, directories + 8 * 4, at);
        PutU32(&b, directories + 8 * 4 + 4, static_cast<uint32_t>(shape.certificate.size()));
    }
    PutU32(&b, opt + 64, ReferenceChecksum(b, opt + 64));
    return image;
}

ImageLayout LauncherLike(const std::vector<Resource>& resources, bool relocAfter)
{
    ImageLayout shape;
    Section text{".text", 0x1000, 0, std::vector<uint8_t>(0x180, 0xC3), 0x60000020};
    std::vector<uint8_t> rsrc = EncodeResources(resources, 0x2000);
    const uint32_t rsrcPages = (static_cast<uint32_t>(rsrc.size()) + 0xFFF) / 0x1000;
    shape.sections.push_back(text);
    shape.sections.push_back(Section{".rsrc", 0x2000, 0, rsrc, 0x40000040});
    shape.directoryRva[2] = 0x2000;
    shape.directorySize[2] = static_cast<uint32_t>(rsrc.size());
    if (relocAfter) {
        const uint32_t relocRva = 0x2000 + 0x1000 * rsrcPages;
        std::vector<uint8_t> reloc = {0x00, 0x10, 0, 0, 0x0C, 0, 0, 0, 0x10, 0x30, 0, 0};
        shape.sections.push_back(Section{".reloc", relocRva, 0, reloc, 0x42000040});
        shape.directoryRva[5] = relocRva;
        shape.directorySize[5] = static_cast<uint32_t>(reloc.size());
    }
    return shape;
}

std::vector<Resource> LauncherResources()
{
    std::vector<Resource> r;
    r.push_back({ResourceId::Number(3), ResourceId::Number(1), 0x804, std::string(296, '\x11')});
    r.push_back({ResourceId::Number(14), ResourceId::Number(128), 0x804, std::string(20, '\x22')});
    r.push_back({ResourceId::Number(5), ResourceId::Number(101), 0x804, "dialog template"});
    r.push_back({ResourceId::Number(6), ResourceId::Number(7), 0x804, std::string("\0\0\x05\0text", 8), 936});
    r.push_back({ResourceId::Number(16), ResourceId::Number(1), 0x409, std::string(92, '\x33')});
    r.push_back({ResourceId::Number(24), ResourceId::Number(1), 0, "<assembly/>"});
    r.push_back({ResourceId::Name(u"D\u00c4T\u0391"), ResourceId::Name(u"x"), 7, "odd"});
    return r;
}

uint32_t ReferenceChecksum(const std::vector<uint8_t>& bytes, uint32_t checksumOffset)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t word = bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
        if (i == checksumOffset || i == checksumOffset + 2)
            word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(bytes.size());
}

}  // namespace petest
