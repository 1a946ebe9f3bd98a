// A resource whose bytes are a range of a file, read in pieces (a package of any size).
#pragma once

#include <cstdint>
#include <string>

#include "CFile.h"
#include "ResourceSource.h"
#include "Status.h"

class FileRangeSource : public ResourceSource {
public:
    FileRangeSource() = default;
    // Opens path for reading (others may read it too, nobody may write it) and
    // takes length bytes from offset; refused when the range passes the file's end.
    Status Open(const char* path, uint64_t offset, uint64_t length);
    // The whole file.
    Status Open(const char* path);

    uint64_t Size() const override { return length_; }
    // A file that ends early or fails is reported with its path.
    Status Read(uint64_t offset, uint8_t* buffer, uint32_t length) override;

private:
    CFile file_;
    std::string path_;
    uint64_t start_ = 0;
    uint64_t length_ = 0;
    uint64_t position_ = 0;  // where the file pointer is, relative to start_
};
