// The output file written through CFile; the checksum rewrite seeks back and returns to the end.
#include "FileSink.h"

#include "PeText.h"

Status FileSink::Create(const char* path)
{
    path_ = path;
    size_ = 0;
    CFileException error;
    if (!file_.Open(path, CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive, &error))
        return Status::Error(static_cast<uint32_t>(error.m_lOsError), "cannot create " + path_);
    return Status::Ok();
}

Status FileSink::Write(const uint8_t* bytes, uint32_t length)
{
    try {
        file_.Write(bytes, length);
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), "cannot write " + path_);
    }
    size_ += length;
    return Status::Ok();
}

Status FileSink::Rewrite(uint64_t offset, const uint8_t* bytes, uint32_t length)
{
    if (offset > size_ || length > size_ - offset)
        return Status::Error(kErrorInvalidParameter, path_ + ": rewrite past the end of what was written");
    try {
        file_.Seek(static_cast<int64_t>(offset), CFile::begin);
        file_.Write(bytes, length);
        file_.Seek(0, CFile::end);
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), "cannot write " + path_);
    }
    return Status::Ok();
}

Status FileSink::Close()
{
    try {
        file_.Close();
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), "cannot write " + path_);
    }
    return Status::Ok();
}
