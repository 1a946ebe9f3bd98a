// The output in a file, written through a 1 MiB buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ByteSink.h"
#include "CFile.h"
#include "Status.h"

// How a failure of the system on the file reads, given its Win32 error code;
// creating tells a failure to create the file from the later ones.
using FileSinkFailureText = std::string (*)(uint32_t code, const std::string& path, bool creating);

class FileSink : public ByteSink {
public:
    // Bytes of the write buffer: appends collect there and go out a buffer at
    // a time; a buffer's worth or more appended at once goes straight out.
    static constexpr uint32_t kBufferSize = 1u << 20;

    // Failures carry the system's error code and read "cannot create <path>"
    // or "cannot write <path>", unless failureText words them.
    explicit FileSink(FileSinkFailureText failureText = nullptr) : failureText_(failureText) {}

    // Creates (or truncates) path. With durable, Finish also flushes the file
    // to the disk.
    Status Create(const std::string& path, bool durable = false);
    Status Append(const uint8_t* data, uint32_t length) override;
    Status Patch(uint64_t offset, const uint8_t* data, uint32_t length) override;
    // Writes what the buffer holds, flushes when durable and closes the file;
    // a failure means the file is incomplete. Without it the buffered bytes
    // never reach the file.
    Status Finish() override;
    // Empties the file (created again, with the same settings).
    Status Restart() override;
    uint64_t Size() const override { return size_; }

private:
    Status Failure(uint32_t code, bool creating) const;
    Status WriteAt(uint64_t offset, const uint8_t* data, uint32_t length);
    Status WriteBuffered();

    FileSinkFailureText failureText_;
    CFile file_;
    std::string path_;
    bool durable_ = false;
    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t buffered_ = 0;
    uint64_t size_ = 0;      // bytes appended, buffered ones included
    uint64_t position_ = 0;  // where the file pointer is
};
