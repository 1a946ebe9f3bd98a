// Bytes in memory as a resource source.
#include "ResourceSource.h"

#include <cstring>

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

const uint8_t* MemorySource::InPlace(uint64_t offset, uint32_t length) const
{
    const uint8_t* bytes = nullptr;
    if (offset > bytes_.Size() || !bytes_.Bytes(static_cast<uint32_t>(offset), length, &bytes))
        return nullptr;
    return bytes;
}
