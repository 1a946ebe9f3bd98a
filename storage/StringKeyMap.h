// Map from string keys to untyped pointers with a fixed, hash-defined iteration order.
//
// 17 buckets; a new key goes to the head of its bucket's chain. Iteration runs
// buckets 0..16, each chain head first (newest key first). Keys are copied and
// compared exactly (CompareMbs). The map never owns what its values point to.
//
// The buckets fix only the iteration order. Keys are found through an index
// beside them (a hash table of the key bytes), so that Lookup and SetAt stay
// fast with tens of thousands of keys. Byte equality is CompareMbs equality
// except for a key that ends in a lone lead byte; while such a key is in the
// map, or is the one looked for, the bucket's chain is searched as well.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "CString.h"

class StringKeyMap {
public:
    using Position = void*;
    static constexpr uint32_t kBucketCount = 17;

    // blockSize: associations allocated at a time (at least 1).
    explicit StringKeyMap(int blockSize = 10);
    ~StringKeyMap();
    StringKeyMap(const StringKeyMap&) = delete;
    StringKeyMap& operator=(const StringKeyMap&) = delete;

    int GetCount() const { return count_; }
    int IsEmpty() const { return count_ == 0; }

    // 1 and value set when the key exists; 0 (value untouched) otherwise.
    int Lookup(const char* key, void*& value) const;
    // Stores value under key: an existing key keeps its place and only its
    // value changes; a new key is added at the head of its bucket.
    void SetAt(const char* key, void* value);

    // Null when the map is empty, else a before-the-start marker.
    Position GetStartPosition() const;
    // Yields the association after position and advances position (null after
    // the last). A null position yields nothing.
    void GetNextAssoc(Position& position, CString& key, void*& value) const;

    // Every key released, bucket table and blocks freed, count 0.
    void RemoveAll();

    // hash = hash * 33 + c over the key's bytes, each taken as a signed char.
    static uint32_t HashKey(const char* key);

private:
    struct Assoc {
        Assoc* next = nullptr;
        uint32_t bucket = 0;
        CString key;
        void* value = nullptr;
    };
    struct Block;

    Assoc* Find(const char* key, uint32_t bucket) const;
    Assoc* NewAssoc();

    // Key bytes -> association, for every key.
    std::unordered_map<std::string, Assoc*> index_;
    // Keys in the map that end in a lone lead byte.
    int irregularKeys_ = 0;
    Assoc** buckets_ = nullptr;
    uint32_t bucketCount_ = kBucketCount;
    int count_ = 0;
    Assoc* freeList_ = nullptr;
    Block* blocks_ = nullptr;
    int blockSize_;
};
