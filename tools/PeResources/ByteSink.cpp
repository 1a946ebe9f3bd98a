// The output collected in memory.
#include "ByteSink.h"

#include <cstring>

#include "SystemApi.h"

Status VectorSink::Write(const uint8_t* bytes, uint32_t length)
{
    if (length > bytes_.max_size() - bytes_.size())
        return Status::Error(kErrorNotEnoughMemory, "the output does not fit in memory");
    bytes_.insert(bytes_.end(), bytes, bytes + length);
    return Status::Ok();
}

Status VectorSink::Rewrite(uint64_t offset, const uint8_t* bytes, uint32_t length)
{
    if (offset > bytes_.size() || length > bytes_.size() - offset)
        return Status::Error(kErrorInvalidParameter, "rewrite past the end of the output");
    if (length != 0)
        std::memcpy(bytes_.data() + offset, bytes, length);
    return Status::Ok();
}
