// The in-memory source and sink.
#include <cstring>

#include "ByteSink.h"
#include "ResourceSource.h"
#include "SystemApi.h"

Status MemorySource::Read(uint64_t offset, uint8_t* buffer, uint32_t length)
{
    const uint8_t* bytes = nullptr;
    if (offset > bytes_.Size() || !bytes_.Bytes(static_cast<uint32_t>(offset), length, &bytes))
        return Status::Error(kErrorInvalidParameter, "read past the end of a memory source");
    if (length != 0)
        std::memcpy(buffer, bytes, length);
    return Status::Ok();
}

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
