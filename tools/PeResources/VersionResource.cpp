// Reading, editing and writing a version block, every length and offset checked.
#include "VersionResource.h"

#include "PeText.h"
#include "Utf16Text.h"

namespace {

constexpr uint32_t kHeaderSize = 6;  // wLength, wValueLength, wType
constexpr uint16_t kTextType = 1;
// VS_VERSION_INFO > StringFileInfo > table > string: nothing nests deeper.
constexpr int kMaxDepth = 4;
constexpr char16_t kRootKey[] = u"VS_VERSION_INFO";
constexpr char16_t kStringFileInfoKey[] = u"StringFileInfo";

uint32_t Align4(uint32_t offset) { return (offset + 3u) & ~3u; }

Status Bad(const std::string& message)
{
    return Status::Error(kErrorInvalidData, "version block: " + message);
}

void PutU16(std::vector<uint8_t>* out, uint16_t value)
{
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> TextValue(const std::u16string& text)
{
    std::vector<uint8_t> bytes;
    for (char16_t unit : text)
        PutU16(&bytes, unit);
    PutU16(&bytes, 0);
    return bytes;
}

}  // namespace

Status VersionResource::ParseEntry(ByteView block, uint32_t offset, uint32_t end, int depth, Entry* entry)
{
    const std::string where = "the entry at " + pe::Hex(offset);
    if (depth > kMaxDepth)
        return Bad(where + " is nested deeper than a version block goes");
    uint16_t length = 0;
    if (!block.ReadU16(offset, &length) || length < kHeaderSize || length > end - offset)
        return Bad(where + " has a length outside its parent");
    const uint32_t entryEnd = offset + length;
    block.ReadU16(offset + 2, &entry->valueLength);
    block.ReadU16(offset + 4, &entry->type);
    uint32_t at = offset + kHeaderSize;
    for (;;) {
        uint16_t unit = 0;
        if (at + 2 > entryEnd || !block.ReadU16(at, &unit))
            return Bad(where + " has a key without its end");
        at += 2;
        if (unit == 0)
            break;
        entry->key += static_cast<char16_t>(unit);
    }
    at = Align4(at);
    const uint32_t valueBytes = entry->type == kTextType ? uint32_t(entry->valueLength) * 2 : entry->valueLength;
    if (valueBytes != 0) {
        const uint8_t* bytes = nullptr;
        if (at > entryEnd || valueBytes > entryEnd - at || !block.Bytes(at, valueBytes, &bytes))
            return Bad(where + " has a value reaching past its end");
        entry->value.assign(bytes, bytes + valueBytes);
        at += valueBytes;
    }
    while (Align4(at) < entryEnd) {
        Entry child;
        const uint32_t childOffset = Align4(at);
        const Status status = ParseEntry(block, childOffset, entryEnd, depth + 1, &child);
        if (!status)
            return status;
        uint16_t childLength = 0;
        block.ReadU16(childOffset, &childLength);
        at = childOffset + childLength;
        entry->children.push_back(std::move(child));
    }
    return Status::Ok();
}

Status VersionResource::Parse(ByteView block, VersionResource* out)
{
    VersionResource parsed;
    uint16_t length = 0;
    if (!block.ReadU16(0, &length))
        return Bad("shorter than its header");
    const Status status = ParseEntry(block, 0, block.Size(), 1, &parsed.root_);
    if (!status)
        return status;
    uint32_t signature = 0;
    if (parsed.root_.key != kRootKey)
        return Bad("the root is not VS_VERSION_INFO");
    if (parsed.root_.value.size() != kFixedInfoSize ||
        !ByteView(parsed.root_.value.data(), kFixedInfoSize).ReadU32(0, &signature) ||
        signature != kFixedInfoSignature)
        return Bad("no fixed block of the right signature");
    *out = std::move(parsed);
    return Status::Ok();
}

Status VersionResource::EncodeEntry(const Entry& entry, std::vector<uint8_t>* out)
{
    const size_t start = out->size();
    PutU16(out, 0);  // the length, patched below
    PutU16(out, entry.valueLength);
    PutU16(out, entry.type);
    for (char16_t unit : entry.key)
        PutU16(out, unit);
    PutU16(out, 0);
    out->resize(Align4(static_cast<uint32_t>(out->size())), 0);
    out->insert(out->end(), entry.value.begin(), entry.value.end());
    for (const Entry& child : entry.children) {
        out->resize(Align4(static_cast<uint32_t>(out->size())), 0);
        const Status status = EncodeEntry(child, out);
        if (!status)
            return status;
    }
    const size_t length = out->size() - start;
    if (length > 0xFFFF)
        return Bad("\"" + Utf16ToUtf8(entry.key) + "\" would take " + pe::SizeText(length) +
                   ", more than the 65535 its length field holds");
    (*out)[start] = static_cast<uint8_t>(length);
    (*out)[start + 1] = static_cast<uint8_t>(length >> 8);
    return Status::Ok();
}

Status VersionResource::Encode(std::vector<uint8_t>* out) const
{
    std::vector<uint8_t> bytes;
    const Status status = EncodeEntry(root_, &bytes);
    if (status)
        *out = std::move(bytes);
    return status;
}

VersionNumber VersionResource::Version(uint32_t offset) const
{
    const ByteView fixed(root_.value.data(), static_cast<uint32_t>(root_.value.size()));
    uint32_t most = 0, least = 0;
    fixed.ReadU32(offset, &most);
    fixed.ReadU32(offset + 4, &least);
    return VersionNumber{static_cast<uint16_t>(most >> 16), static_cast<uint16_t>(most),
                         static_cast<uint16_t>(least >> 16), static_cast<uint16_t>(least)};
}

void VersionResource::SetVersion(uint32_t offset, const VersionNumber& version)
{
    ByteSpan fixed(root_.value.data(), static_cast<uint32_t>(root_.value.size()));
    fixed.WriteU32(offset, (uint32_t(version[0]) << 16) | version[1]);
    fixed.WriteU32(offset + 4, (uint32_t(version[2]) << 16) | version[3]);
}

const VersionResource::Entry* VersionResource::StringTable() const
{
    for (const Entry& child : root_.children) {
        if (child.key == kStringFileInfoKey && !child.children.empty())
            return &child.children.front();
    }
    return nullptr;
}

VersionResource::Entry* VersionResource::StringTable()
{
    return const_cast<Entry*>(static_cast<const VersionResource*>(this)->StringTable());
}

std::u16string VersionResource::StringTableKey() const
{
    const Entry* table = StringTable();
    return table != nullptr ? table->key : std::u16string();
}

std::vector<std::pair<std::u16string, std::u16string>> VersionResource::Strings() const
{
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    const Entry* table = StringTable();
    for (size_t i = 0; table != nullptr && i < table->children.size(); ++i) {
        const Entry& entry = table->children[i];
        std::u16string value;
        for (size_t b = 0; b + 1 < entry.value.size(); b += 2)
            value += static_cast<char16_t>(entry.value[b] | (entry.value[b + 1] << 8));
        while (!value.empty() && value.back() == 0)
            value.pop_back();
        strings.emplace_back(entry.key, std::move(value));
    }
    return strings;
}

bool VersionResource::FindString(const std::u16string& key, std::u16string* value) const
{
    for (auto& string : Strings()) {
        if (string.first == key) {
            *value = std::move(string.second);
            return true;
        }
    }
    return false;
}

Status VersionResource::SetString(const std::u16string& key, const std::u16string& value)
{
    Entry* table = StringTable();
    // Longer text could not even be counted in the value's length field.
    if (value.size() + 1 > 0xFFFF)
        return Bad("\"" + Utf16ToUtf8(key) + "\" is longer than a version string can be");
    if (table == nullptr)
        return Bad("no string table to set \"" + Utf16ToUtf8(key) + "\" in");
    Entry* target = nullptr;
    for (Entry& entry : table->children) {
        if (entry.key == key)
            target = &entry;
    }
    if (target == nullptr) {
        table->children.emplace_back();
        target = &table->children.back();
        target->key = key;
    }
    target->type = kTextType;
    target->value = TextValue(value);
    target->valueLength = static_cast<uint16_t>(value.size() + 1);
    return Status::Ok();
}

std::string VersionNumberText(const VersionNumber& version)
{
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) + "." +
           std::to_string(version[3]);
}
