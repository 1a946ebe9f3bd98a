// File-system helpers of the packaging tool that need no platform of their own: input gathering, whole-file reads, stamped programs.
#include "ToolFiles.h"

#include "CFile.h"
#include "Console.h"
#include "PackageResources.h"
#include "PeImage.h"
#include "ResourceTree.h"
#include "SystemApi.h"

namespace {

// Adds the files of one group folder to the plan under group.
Status CollectGroupFolder(const std::string& path, const std::string& group, PackagePlan& plan,
                          std::vector<std::string>* warnings)
{
    std::vector<FolderItem> inner;
    Status status = ListFolder(path, &inner);
    if (!status)
        return status;
    if (inner.empty()) {
        warnings->push_back(path + ": empty folder left out (a group needs files)");
        return Status::Ok();
    }
    for (const FolderItem& file : inner) {
        std::string filePath = JoinPath(path, file.name);
        if (file.isFolder)
            return Status::Error(kErrorInvalidParameter,
                                 filePath +
                                     ": folders inside a group folder cannot be packed (entries are plain file names)");
        status = plan.AddFile(group, file.name, filePath, file.size);
        if (!status)
            return status;
    }
    return Status::Ok();
}

// The language FindResourceA takes first when several are there: neutral,
// else the lowest.
const ResourceData* OemResource(const ResourceTree& tree, const char* resourceName)
{
    const ResourceId type = ResourceId::AsciiName(kOemResourceType);
    const ResourceId name = ResourceId::AsciiName(resourceName);
    for (const auto& t : tree.Types()) {
        if (!t.first.SameIgnoringCase(type))
            continue;
        for (const auto& n : t.second.names) {
            if (!n.first.SameIgnoringCase(name) || n.second.languages.empty())
                continue;
            auto neutral = n.second.languages.find(0);
            return neutral != n.second.languages.end() ? &neutral->second : &n.second.languages.begin()->second;
        }
    }
    return nullptr;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && (folder.back() == kPathSeparator || folder.back() == '/' ||
                            (kPathSeparator == '\\' && folder.back() == ':')))
        return folder + name;
    return folder + kPathSeparator + name;
}

Status CollectFileArguments(const std::vector<FileArgument>& files, PackagePlan& plan)
{
    for (const FileArgument& file : files) {
        bool isFolder = false;
        uint64_t size = 0;
        Status status = QueryPath(file.path, &isFolder, &size);
        if (!status)
            return status;
        if (isFolder)
            return Status::Error(kErrorInvalidParameter, file.path + ": is a folder (use --from-dir to pack folders)");
        status = plan.AddFile(file.group, FileNameOf(file.path), file.path, size);
        if (!status)
            return status;
    }
    return Status::Ok();
}

Status CollectFolderGroups(const std::string& folder, const std::string& looseGroup, PackagePlan& plan,
                           std::vector<std::string>* warnings)
{
    std::vector<FolderItem> items;
    Status status = ListFolder(folder, &items);
    if (!status)
        return status;
    for (const FolderItem& item : items) {
        std::string path = JoinPath(folder, item.name);
        status = item.isFolder ? CollectGroupFolder(path, item.name, plan, warnings)
                               : plan.AddFile(looseGroup, item.name, path, item.size);
        if (!status)
            return status;
    }
    return Status::Ok();
}

Status ReadWholeFile(const std::string& path, std::string* bytes)
{
    CFile file;
    CFileException cause;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite, &cause))
        return SystemFailure(static_cast<uint32_t>(cause.m_lOsError), path);
    try {
        uint64_t length = file.GetLength();
        if (length > 0x7FFFFFFF)
            return Status::Error(kErrorFileTooLarge, path + ": too large");
        bytes->assign(static_cast<size_t>(length), '\0');
        uint32_t got = 0;
        while (got < length) {
            unsigned n = file.Read(&(*bytes)[got], static_cast<unsigned>(length - got));
            if (n == 0)
                break;
            got += n;
        }
        bytes->resize(got);
    } catch (const CFileException& e) {
        return SystemFailure(static_cast<uint32_t>(e.m_lOsError), path);
    }
    return Status::Ok();
}

Status ReadStampedPackage(const std::string& path, bool* stamped, std::vector<uint8_t>* bytes, uint16_t* machine,
                          std::vector<uint8_t>* pieceIndex)
{
    *stamped = false;
    // Only a file that starts like a program is read as one.
    {
        CFile file;
        if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone))
            return Status::Ok();
        char magic[2] = {};
        try {
            if (file.Read(magic, sizeof magic) != sizeof magic || magic[0] != 'M' || magic[1] != 'Z')
                return Status::Ok();
        } catch (const CFileException&) {
            return Status::Ok();
        }
    }
    // Only the headers and the resource directory are read before the package itself.
    PeImage image;
    ResourceTree tree;
    Status status = PeImage::Open(path.c_str(), &image);
    if (status)
        status = ResourceTree::Read(image, &tree);
    if (!status)
        return SystemFailure(status.Code(), path + ": cannot read it as a program");
    const ResourceData* found = OemResource(tree, kPackageResourceName);
    if (found == nullptr || found->size == 0 || found->size > image.Size())
        return Status::Error(kErrorResourceDataNotFound,
                             path + ": a program without a package (no OEMDATA/DEFAULT resource)");
    bytes->resize(static_cast<size_t>(found->size));
    status = image.ReadAt(found->imageOffset, bytes->data(), static_cast<uint32_t>(found->size));
    if (!status)
        return SystemFailure(status.Code(), path + ": cannot read it as a program");
    // An index that cannot be read is left out: the entries decode without it.
    const ResourceData* index = pieceIndex != nullptr ? OemResource(tree, kIndexResourceName) : nullptr;
    if (index != nullptr && index->size <= image.Size()) {
        pieceIndex->resize(static_cast<size_t>(index->size));
        if (!image.ReadAt(index->imageOffset, pieceIndex->data(), static_cast<uint32_t>(index->size)))
            pieceIndex->clear();
    }
    *machine = image.Machine();
    *stamped = true;
    return Status::Ok();
}
