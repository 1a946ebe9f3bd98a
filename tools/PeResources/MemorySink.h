// The output collected in memory (small outputs, and images built for inspection).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "ByteSink.h"
#include "Status.h"

class MemorySink : public ByteSink {
public:
    Status Append(const uint8_t* data, uint32_t length) override;
    Status Patch(uint64_t offset, const uint8_t* data, uint32_t length) override;
    Status Finish() override { return Status::Ok(); }
    Status Restart() override;
    uint64_t Size() const override { return bytes_.size(); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};
