// Writes the output to a file, in pieces.
#pragma once

#include <cstdint>
#include <string>

#include "ByteSink.h"
#include "CFile.h"
#include "Status.h"

class FileSink : public ByteSink {
public:
    FileSink() = default;
    // Creates path, or empties it when it exists.
    Status Create(const char* path);
    Status Write(const uint8_t* bytes, uint32_t length) override;
    Status Rewrite(uint64_t offset, const uint8_t* bytes, uint32_t length) override;
    // Flushes and closes; a failure here means the file is incomplete.
    Status Close();

private:
    CFile file_;
    std::string path_;
    uint64_t size_ = 0;
};
