// Names of the package container format, and its validation through the one container walk.
#include "ContainerFormat.h"

#include <cstring>

#include "ContainerWalker.h"

bool CopyName(const ByteView& bytes, uint32_t offset, uint32_t length, char (&name)[kMaxPath])
{
    const uint8_t* source = nullptr;
    if (length > kMaxNameLength || !bytes.Bytes(offset, length, &source))
        return false;
    if (length)
        std::memcpy(name, source, length);
    name[length] = '\0';
    return true;
}

bool ValidateContainer(const ByteView& image, ContainerCheck check)
{
    return ContainerWalker(image, check).Walk().IsOk();
}
