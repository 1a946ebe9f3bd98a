// Package sinks: a growing memory block, or a file written in large pieces.
#include "PackageSink.h"

#include <cstring>

#include "Console.h"

Status MemoryPackageSink::Append(const uint8_t* data, uint32_t length)
{
    bytes_.insert(bytes_.end(), data, data + length);
    return Status::Ok();
}

Status MemoryPackageSink::Patch(uint64_t offset, const uint8_t* data, uint32_t length)
{
    if (offset > bytes_.size() || length > bytes_.size() - offset)
        return Status::Error(kErrorInvalidParameter, "patch outside the package");
    std::memcpy(bytes_.data() + offset, data, length);
    return Status::Ok();
}

Status MemoryPackageSink::Restart()
{
    bytes_.clear();
    return Status::Ok();
}

namespace {

Status Failure(const CFileException& e, const std::string& path)
{
    return SystemFailure(static_cast<uint32_t>(e.m_lOsError), path + ": cannot write");
}

}  // namespace

Status FilePackageSink::Create(const std::string& path, bool durable)
{
    path_ = path;
    durable_ = durable;
    CFileException cause;
    if (!file_.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite, &cause))
        return SystemFailure(static_cast<uint32_t>(cause.m_lOsError), path + ": cannot write");
    if (!buffer_)
        buffer_.reset(new uint8_t[kPackageIoPiece]);
    buffered_ = 0;
    size_ = 0;
    position_ = 0;
    return Status::Ok();
}

Status FilePackageSink::WriteBuffered()
{
    if (buffered_ == 0)
        return Status::Ok();
    try {
        const uint64_t start = size_ - buffered_;
        if (position_ != start)
            file_.Seek(static_cast<int64_t>(start), CFile::begin);
        file_.Write(buffer_.get(), buffered_);
        position_ = size_;
    } catch (const CFileException& e) {
        return Failure(e, path_);
    }
    buffered_ = 0;
    return Status::Ok();
}

Status FilePackageSink::Append(const uint8_t* data, uint32_t length)
{
    while (length > 0) {
        if (buffered_ == 0 && length >= kPackageIoPiece) {
            // A whole piece goes straight out, without the copy.
            buffered_ = 0;
            try {
                if (position_ != size_)
                    file_.Seek(static_cast<int64_t>(size_), CFile::begin);
                file_.Write(data, length);
            } catch (const CFileException& e) {
                return Failure(e, path_);
            }
            size_ += length;
            position_ = size_;
            return Status::Ok();
        }
        const uint32_t n = length < kPackageIoPiece - buffered_ ? length : kPackageIoPiece - buffered_;
        std::memcpy(buffer_.get() + buffered_, data, n);
        buffered_ += n;
        size_ += n;
        data += n;
        length -= n;
        if (buffered_ == kPackageIoPiece) {
            const Status written = WriteBuffered();
            if (!written)
                return written;
        }
    }
    return Status::Ok();
}

Status FilePackageSink::Patch(uint64_t offset, const uint8_t* data, uint32_t length)
{
    if (offset > size_ || length > size_ - offset)
        return Status::Error(kErrorInvalidParameter, path_ + ": patch outside the package");
    // Bytes still in the buffer are patched there; the rest in the file.
    const uint64_t bufferStart = size_ - buffered_;
    while (length > 0 && offset < bufferStart) {
        const uint32_t n = offset + length <= bufferStart ? length : static_cast<uint32_t>(bufferStart - offset);
        try {
            file_.Seek(static_cast<int64_t>(offset), CFile::begin);
            file_.Write(data, n);
        } catch (const CFileException& e) {
            return Failure(e, path_);
        }
        position_ = offset + n;
        offset += n;
        data += n;
        length -= n;
    }
    if (length > 0)
        std::memcpy(buffer_.get() + (offset - bufferStart), data, length);
    return Status::Ok();
}

Status FilePackageSink::Finish()
{
    Status status = WriteBuffered();
    if (!status)
        return status;
    try {
        if (durable_)
            file_.Flush();
        file_.Close();
    } catch (const CFileException& e) {
        file_.Abort();
        return Failure(e, path_);
    }
    return Status::Ok();
}

Status FilePackageSink::Restart()
{
    file_.Abort();
    return Create(path_, durable_);
}
