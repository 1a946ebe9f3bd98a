// Map from string keys to untyped pointers with a fixed, hash-defined iteration order.
#include "StringKeyMap.h"

#include "SystemApi.h"

struct StringKeyMap::Block {
    Block* next = nullptr;
    Assoc* assocs = nullptr;
};

namespace {
// Position value before the first association.
StringKeyMap::Position const kBeforeStart = reinterpret_cast<StringKeyMap::Position>(~static_cast<uintptr_t>(0));
}  // namespace

StringKeyMap::StringKeyMap(int blockSize) : blockSize_(blockSize > 0 ? blockSize : 1) {}

StringKeyMap::~StringKeyMap() { RemoveAll(); }

uint32_t StringKeyMap::HashKey(const char* key)
{
    uint32_t hash = 0;
    for (const char* p = key; *p; ++p)
        hash = hash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
    return hash;
}

namespace {

// Whether the key's last byte is a lead byte without its trail byte, where
// CompareMbs may see equal what differs in its bytes.
bool EndsInLoneLeadByte(const char* key)
{
    bool lone = false;
    for (const char* p = key; *p; ++p) {
        lone = IsLeadByte(static_cast<uint8_t>(*p)) && p[1] == '\0';
        if (IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0')
            ++p;
    }
    return lone;
}

}  // namespace

StringKeyMap::Assoc* StringKeyMap::Find(const char* key, uint32_t bucket) const
{
    if (!buckets_)
        return nullptr;
    if (irregularKeys_ == 0 && !EndsInLoneLeadByte(key)) {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : found->second;
    }
    for (Assoc* a = buckets_[bucket]; a; a = a->next) {
        if (CompareMbs(a->key, key) == 0)
            return a;
    }
    return nullptr;
}

int StringKeyMap::Lookup(const char* key, void*& value) const
{
    Assoc* a = Find(key, HashKey(key) % bucketCount_);
    if (!a)
        return 0;
    value = a->value;
    return 1;
}

StringKeyMap::Assoc* StringKeyMap::NewAssoc()
{
    if (!freeList_) {
        Block* block = new Block;
        try {
            block->assocs = new Assoc[static_cast<size_t>(blockSize_)];
        } catch (...) {
            delete block;
            throw;
        }
        block->next = blocks_;
        blocks_ = block;
        // Chained back to front so that the lowest address is handed out first.
        for (int i = blockSize_ - 1; i >= 0; --i) {
            block->assocs[i].next = freeList_;
            freeList_ = &block->assocs[i];
        }
    }
    Assoc* a = freeList_;
    freeList_ = a->next;
    return a;
}

void StringKeyMap::SetAt(const char* key, void* value)
{
    uint32_t bucket = HashKey(key) % bucketCount_;
    if (Assoc* existing = Find(key, bucket)) {
        existing->value = value;
        return;
    }
    if (!buckets_)
        buckets_ = new Assoc*[bucketCount_]();
    // Copy the key and make room in the index before taking the association,
    // so a failed allocation loses nothing.
    CString copy(key);
    auto slot = index_.emplace(key, nullptr);
    Assoc* a;
    try {
        a = NewAssoc();
    } catch (...) {
        if (slot.second)
            index_.erase(slot.first);
        throw;
    }
    slot.first->second = a;
    if (EndsInLoneLeadByte(key))
        ++irregularKeys_;
    a->bucket = bucket;
    a->key = copy;
    a->value = value;
    a->next = buckets_[bucket];
    buckets_[bucket] = a;
    ++count_;
}

StringKeyMap::Position StringKeyMap::GetStartPosition() const { return count_ == 0 ? nullptr : kBeforeStart; }

void StringKeyMap::GetNextAssoc(Position& position, CString& key, void*& value) const
{
    if (!position || !buckets_) {
        position = nullptr;
        return;
    }
    Assoc* a;
    if (position == kBeforeStart) {
        a = nullptr;
        for (uint32_t b = 0; b < bucketCount_ && !a; ++b)
            a = buckets_[b];
        if (!a) {
            position = nullptr;
            return;
        }
    } else {
        a = static_cast<Assoc*>(position);
    }
    Assoc* next = a->next;
    for (uint32_t b = a->bucket + 1; !next && b < bucketCount_; ++b)
        next = buckets_[b];
    key = a->key;
    value = a->value;
    position = next;
}

void StringKeyMap::RemoveAll()
{
    delete[] buckets_;
    buckets_ = nullptr;
    while (blocks_) {
        Block* next = blocks_->next;
        delete[] blocks_->assocs;
        delete blocks_;
        blocks_ = next;
    }
    freeList_ = nullptr;
    count_ = 0;
    index_.clear();
    irregularKeys_ = 0;
}
