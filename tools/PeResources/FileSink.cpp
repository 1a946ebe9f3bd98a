// The file sink: appends collected in a buffer, patches made in the buffer or in the file, wherever the bytes are.
#include "FileSink.h"

#include <cstring>

#include "CFileException.h"
#include "SystemApi.h"

Status FileSink::Failure(uint32_t code, bool creating) const
{
    if (failureText_ != nullptr)
        return Status::Error(code, failureText_(code, path_, creating));
    return Status::Error(code, (creating ? "cannot create " : "cannot write ") + path_);
}

Status FileSink::Create(const std::string& path, bool durable)
{
    path_ = path;
    durable_ = durable;
    CFileException cause;
    if (!file_.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite, &cause))
        return Failure(static_cast<uint32_t>(cause.m_lOsError), true);
    if (!buffer_)
        buffer_.reset(new uint8_t[kBufferSize]);
    buffered_ = 0;
    size_ = 0;
    position_ = 0;
    return Status::Ok();
}

Status FileSink::WriteAt(uint64_t offset, const uint8_t* data, uint32_t length)
{
    try {
        if (position_ != offset)
            file_.Seek(static_cast<int64_t>(offset), CFile::begin);
        file_.Write(data, length);
    } catch (const CFileException& e) {
        return Failure(static_cast<uint32_t>(e.m_lOsError), false);
    }
    position_ = offset + length;
    return Status::Ok();
}

Status FileSink::WriteBuffered()
{
    if (buffered_ == 0)
        return Status::Ok();
    const Status written = WriteAt(size_ - buffered_, buffer_.get(), buffered_);
    if (written)
        buffered_ = 0;
    return written;
}

Status FileSink::Append(const uint8_t* data, uint32_t length)
{
    while (length > 0) {
        if (buffered_ == 0 && length >= kBufferSize) {
            // A whole buffer's worth goes straight out, without the copy.
            const Status written = WriteAt(size_, data, length);
            if (written)
                size_ += length;
            return written;
        }
        const uint32_t n = length < kBufferSize - buffered_ ? length : kBufferSize - buffered_;
        std::memcpy(buffer_.get() + buffered_, data, n);
        buffered_ += n;
        size_ += n;
        data += n;
        length -= n;
        if (buffered_ == kBufferSize) {
            const Status written = WriteBuffered();
            if (!written)
                return written;
        }
    }
    return Status::Ok();
}

Status FileSink::Patch(uint64_t offset, const uint8_t* data, uint32_t length)
{
    if (offset > size_ || length > size_ - offset)
        return Status::Error(kErrorInvalidParameter, path_ + ": patch past the end of what was written");
    // Bytes still in the buffer are patched there; the rest in the file.
    const uint64_t bufferStart = size_ - buffered_;
    if (offset < bufferStart) {
        const uint32_t n = offset + length <= bufferStart ? length : static_cast<uint32_t>(bufferStart - offset);
        const Status written = WriteAt(offset, data, n);
        if (!written)
            return written;
        offset += n;
        data += n;
        length -= n;
    }
    if (length > 0)
        std::memcpy(buffer_.get() + (offset - bufferStart), data, length);
    return Status::Ok();
}

Status FileSink::Finish()
{
    const Status written = WriteBuffered();
    if (!written)
        return written;
    try {
        if (durable_)
            file_.Flush();
        file_.Close();
    } catch (const CFileException& e) {
        file_.Abort();
        return Failure(static_cast<uint32_t>(e.m_lOsError), false);
    }
    return Status::Ok();
}

Status FileSink::Restart()
{
    file_.Abort();
    return Create(path_, durable_);
}
