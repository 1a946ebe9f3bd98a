// The output as a growing block of memory.
#include "MemorySink.h"

#include <cstring>

#include "SystemApi.h"

Status MemorySink::Append(const uint8_t* data, uint32_t length)
{
    if (length > bytes_.max_size() - bytes_.size())
        return Status::Error(kErrorNotEnoughMemory, "the output does not fit in memory");
    bytes_.insert(bytes_.end(), data, data + length);
    return Status::Ok();
}

Status MemorySink::Patch(uint64_t offset, const uint8_t* data, uint32_t length)
{
    if (offset > bytes_.size() || length > bytes_.size() - offset)
        return Status::Error(kErrorInvalidParameter, "patch past the end of what was written");
    if (length != 0)
        std::memcpy(bytes_.data() + offset, data, length);
    return Status::Ok();
}

Status MemorySink::Restart()
{
    bytes_.clear();
    return Status::Ok();
}
