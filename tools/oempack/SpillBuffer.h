// A byte stream of unknown length kept in memory up to a limit and in a temporary file beyond it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CFile.h"
#include "Status.h"

class SpillBuffer {
public:
    // Bytes beyond memoryLimit go to a temporary file created in folder and
    // deleted with the buffer; an empty folder keeps everything in memory.
    SpillBuffer(std::string folder, uint32_t memoryLimit);
    ~SpillBuffer();
    SpillBuffer(const SpillBuffer&) = delete;
    SpillBuffer& operator=(const SpillBuffer&) = delete;

    Status Append(const uint8_t* data, uint32_t length);
    uint64_t Size() const { return size_; }

    // Reading from the start: Rewind, then Read pieces in order. Read fills
    // exactly length bytes, which must not pass Size().
    Status Rewind();
    Status Read(uint8_t* buffer, uint32_t length);

private:
    Status Spill();

    std::string folder_;
    uint32_t memoryLimit_;
    std::vector<uint8_t> memory_;
    std::string spillPath_;
    CFile file_;
    uint64_t size_ = 0;
    uint64_t readPosition_ = 0;
    // Reading a spilled stream goes through this buffer: the decoder asks for small blocks.
    std::vector<uint8_t> readBuffer_;
    uint32_t readAt_ = 0;
    uint32_t readEnd_ = 0;
};
