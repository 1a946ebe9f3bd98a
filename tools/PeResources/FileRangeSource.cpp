// A file range read through CFile; positions only when the reader jumps.
#include "FileRangeSource.h"

#include "PeText.h"

Status FileRangeSource::Open(const char* path, uint64_t offset, uint64_t length)
{
    path_ = path;
    CFileException error;
    if (!file_.Open(path, CFile::modeRead | CFile::shareDenyWrite, &error))
        return Status::Error(static_cast<uint32_t>(error.m_lOsError), "cannot open " + path_);
    try {
        const uint64_t size = file_.GetLength();
        if (offset > size || length > size - offset)
            return Status::Error(kErrorInvalidParameter, path_ + ": " + pe::SizeText(length) + " at " + pe::Hex(offset) +
                                                             " pass the end of the file (" + pe::SizeText(size) + ")");
        file_.Seek(static_cast<int64_t>(offset), CFile::begin);
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), "cannot read " + path_);
    }
    start_ = offset;
    length_ = length;
    position_ = 0;
    return Status::Ok();
}

Status FileRangeSource::Open(const char* path)
{
    Status s = Open(path, 0, 0);
    if (!s)
        return s;
    try {
        length_ = file_.GetLength();
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), "cannot read " + path_);
    }
    return Status::Ok();
}

Status FileRangeSource::Read(uint64_t offset, uint8_t* buffer, uint32_t length)
{
    if (offset > length_ || length > length_ - offset)
        return Status::Error(kErrorInvalidParameter, path_ + ": read past the end of the range");
    try {
        if (offset != position_)
            file_.Seek(static_cast<int64_t>(start_ + offset), CFile::begin);
        const unsigned got = file_.Read(buffer, length);
        position_ = offset + got;
        if (got != length)
            return Status::Error(kErrorInvalidData, path_ + ": the file ended at " + pe::Hex(start_ + offset + got) +
                                                        ", before the " + pe::SizeText(length_) + " it had");
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), "cannot read " + path_);
    }
    return Status::Ok();
}
