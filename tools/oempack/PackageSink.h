// Where a package's bytes go: appended in order, with earlier bytes patched once their values are known.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CFile.h"
#include "Status.h"

class PackageSink {
public:
    virtual ~PackageSink() = default;
    // Appends length bytes after everything appended so far.
    virtual Status Append(const uint8_t* data, uint32_t length) = 0;
    // Overwrites length bytes at offset; offset + length <= Size().
    virtual Status Patch(uint64_t offset, const uint8_t* data, uint32_t length) = 0;
    // Makes everything appended and patched final.
    virtual Status Finish() = 0;
    // Drops everything written: the next Append starts at offset 0 again.
    virtual Status Restart() = 0;
    // Bytes appended so far.
    virtual uint64_t Size() const = 0;
};

// The package in memory (small packages, and images built for inspection).
class MemoryPackageSink : public PackageSink {
public:
    Status Append(const uint8_t* data, uint32_t length) override;
    Status Patch(uint64_t offset, const uint8_t* data, uint32_t length) override;
    Status Finish() override { return Status::Ok(); }
    Status Restart() override;
    uint64_t Size() const override { return bytes_.size(); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// The package in a file, written through a 1 MiB buffer. Failures name the
// file and carry the system's error code.
class FilePackageSink : public PackageSink {
public:
    // Creates (or truncates) path. With durable, Finish also flushes the file
    // to the disk.
    Status Create(const std::string& path, bool durable);
    Status Append(const uint8_t* data, uint32_t length) override;
    Status Patch(uint64_t offset, const uint8_t* data, uint32_t length) override;
    // Writes what the buffer holds, flushes when durable and closes the file.
    Status Finish() override;
    Status Restart() override;
    uint64_t Size() const override { return size_; }

private:
    Status WriteBuffered();

    CFile file_;
    std::string path_;
    bool durable_ = false;
    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t buffered_ = 0;
    uint64_t size_ = 0;      // bytes appended, buffered ones included
    uint64_t position_ = 0;  // where the file pointer is
};

// Size of the write buffer of a file sink, and of the pieces files are read in.
constexpr uint32_t kPackageIoPiece = 1u << 20;
