// Spill buffer: memory first, a temporary file for the rest.
#include "SpillBuffer.h"

#include <cstring>

#include "Console.h"

namespace {

constexpr uint32_t kReadPiece = 1u << 20;

Status FileFailure(const CFileException& e, const std::string& path)
{
    return SystemFailure(static_cast<uint32_t>(e.m_lOsError), path + ": cannot write a temporary file");
}

}  // namespace

SpillBuffer::SpillBuffer(std::string folder, uint32_t memoryLimit) : folder_(std::move(folder)), memoryLimit_(memoryLimit)
{
}

SpillBuffer::~SpillBuffer()
{
    if (!spillPath_.empty()) {
        file_.Abort();
        (void)DeletePath(spillPath_.c_str());
    }
}

Status SpillBuffer::Spill()
{
    char path[kMaxPath] = {};
    if (!CreateUniqueFile(folder_.c_str(), "oem", path))
        return SystemFailure(GetLastErrorValue(), "cannot create a temporary file in " + folder_);
    spillPath_ = path;
    CFileException cause;
    if (!file_.Open(path, CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive, &cause))
        return SystemFailure(static_cast<uint32_t>(cause.m_lOsError), spillPath_ + ": cannot write a temporary file");
    try {
        file_.Write(memory_.data(), static_cast<unsigned>(memory_.size()));
    } catch (const CFileException& e) {
        return FileFailure(e, spillPath_);
    }
    std::vector<uint8_t>().swap(memory_);
    return Status::Ok();
}

Status SpillBuffer::Append(const uint8_t* data, uint32_t length)
{
    if (spillPath_.empty() && !folder_.empty() && memory_.size() + length > memoryLimit_) {
        const Status spilled = Spill();
        if (!spilled)
            return spilled;
    }
    if (spillPath_.empty()) {
        memory_.insert(memory_.end(), data, data + length);
    } else {
        try {
            file_.Write(data, length);
        } catch (const CFileException& e) {
            return FileFailure(e, spillPath_);
        }
    }
    size_ += length;
    return Status::Ok();
}

Status SpillBuffer::Rewind()
{
    readPosition_ = 0;
    readAt_ = readEnd_ = 0;
    if (spillPath_.empty())
        return Status::Ok();
    try {
        file_.Seek(0, CFile::begin);
    } catch (const CFileException& e) {
        return FileFailure(e, spillPath_);
    }
    return Status::Ok();
}

Status SpillBuffer::Read(uint8_t* buffer, uint32_t length)
{
    if (readPosition_ > size_ || length > size_ - readPosition_)
        return Status::Error(kErrorHandleEof, "read past the end of a temporary stream");
    if (spillPath_.empty()) {
        std::memcpy(buffer, memory_.data() + readPosition_, length);
    } else {
        uint32_t done = 0;
        while (done < length) {
            if (readAt_ == readEnd_) {
                const uint64_t left = size_ - readPosition_ - done;
                const uint32_t want = left < kReadPiece ? static_cast<uint32_t>(left) : kReadPiece;
                readBuffer_.resize(kReadPiece);
                try {
                    if (file_.Read(readBuffer_.data(), want) != want)
                        return Status::Error(kErrorHandleEof, spillPath_ + ": ends early");
                } catch (const CFileException& e) {
                    return FileFailure(e, spillPath_);
                }
                readAt_ = 0;
                readEnd_ = want;
            }
            const uint32_t n = length - done < readEnd_ - readAt_ ? length - done : readEnd_ - readAt_;
            std::memcpy(buffer + done, readBuffer_.data() + readAt_, n);
            readAt_ += n;
            done += n;
        }
    }
    readPosition_ += length;
    return Status::Ok();
}
