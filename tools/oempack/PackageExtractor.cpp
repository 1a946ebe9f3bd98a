// Extraction of package entries through the shared entry writer.
#include "PackageExtractor.h"

#include "Console.h"
#include "EntryExtraction.h"
#include "PackageListing.h"
#include "SystemApi.h"

namespace {

struct FailureRecord {
    uint32_t error = 0;
    bool called = false;
};

int RecordFailure(ExtractFailureInfo* info, void* data)
{
    auto* record = static_cast<FailureRecord*>(data);
    record->error = info->error;
    record->called = true;
    return 0;
}

bool EnsureFolder(const std::string& path, std::string* error)
{
    uint32_t attributes = GetPathAttributes(path.c_str());
    if (attributes != kInvalidFileAttributes) {
        if (attributes & kFileAttributeDirectory)
            return true;
        *error = path + ": exists and is not a folder";
        return false;
    }
    if (!CreateFolder(path.c_str())) {
        *error = path + ": cannot create the folder: " + SystemErrorText(GetLastErrorValue());
        return false;
    }
    return true;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && (folder.back() == kPathSeparator || folder.back() == ':'))
        return folder + name;
    return folder + kPathSeparator + name;
}

}  // namespace

bool ExtractPackage(const ByteView& image, const ExtractRequest& request, ExtractOutcome* outcome,
                    const std::function<void(uint64_t, uint64_t)>& progress, std::string* error)
{
    PackageListing listing;
    if (!ReadPackageListing(image, false, &listing, error))
        return false;

    std::vector<const ListedGroup*> chosen;
    for (const ListedGroup& g : listing.groups) {
        if (request.group.empty() || CompareNoCase(g.name.c_str(), request.group.c_str()) == 0)
            chosen.push_back(&g);
    }
    if (chosen.empty() && !request.group.empty()) {
        *error = "the package has no group '" + request.group + "'";
        return false;
    }
    std::vector<bool> requestedFound(request.entries.size(), false);
    auto wanted = [&](const std::string& name) {
        if (request.entries.empty())
            return true;
        bool any = false;
        for (size_t i = 0; i < request.entries.size(); ++i) {
            if (CompareNoCase(request.entries[i].c_str(), name.c_str()) == 0) {
                requestedFound[i] = true;
                any = true;
            }
        }
        return any;
    };

    uint64_t total = 0, done = 0;
    for (const ListedGroup* g : chosen)
        for (const ListedEntry& e : g->entries)
            total += e.record.uncompressedSize;

    if (!EnsureFolder(request.destination, error))
        return false;
    for (const ListedGroup* g : chosen) {
        std::string folder = request.destination;
        if (!g->name.empty()) {
            if (!IsBareFileName(g->name.c_str())) {
                outcome->errors.push_back("group '" + g->name + "': not a usable folder name; skipped");
                continue;
            }
            folder = JoinPath(folder, g->name);
        }
        bool folderReady = false;
        for (size_t j = 0; j < g->entries.size(); ++j) {
            const ListedEntry& e = g->entries[j];
            if (!wanted(e.name))
                continue;
            bool repeated = false;
            for (size_t k = 0; k < j && !repeated; ++k)
                repeated = CompareNoCase(g->entries[k].name.c_str(), e.name.c_str()) == 0;
            const std::string where = (g->name.empty() ? std::string() : g->name + kPathSeparator) + e.name;
            if (repeated) {
                outcome->warnings.push_back(where + ": a second entry of this name; skipped");
                continue;
            }
            if (!folderReady) {
                std::string folderError;
                if (!EnsureFolder(folder, &folderError)) {
                    outcome->errors.push_back(folderError);
                    break;
                }
                folderReady = true;
            }
            // Stored bytes are written straight from the image; only a
            // compressed entry needs a buffer of its own.
            std::vector<uint8_t> decoded;
            const uint8_t* data = nullptr;
            uint32_t size = e.record.uncompressedSize;
            if (e.record.compressedSize != 0 ? !DecodeEntry(image, e.record, &decoded)
                                             : !image.Bytes(e.record.dataOffset, size, &data)) {
                outcome->errors.push_back(where + ": the compressed data is damaged; not extracted");
                continue;
            }
            if (e.record.compressedSize != 0)
                data = decoded.data();
            EntryInfo info = {e.record.attributes, e.record.creationTime, e.record.lastAccessTime,
                              e.record.lastWriteTime};
            FailureRecord failure;
            SetLastErrorValue(0);
            if (!WriteEntryFile(folder.c_str(), e.name.c_str(), data, size, info, request.overwriteMode,
                                RecordFailure, &failure)) {
                uint32_t code = failure.called ? failure.error : GetLastErrorValue();
                outcome->errors.push_back(JoinPath(folder, e.name) + ": cannot write: " + SystemErrorText(code));
                continue;
            }
            ++outcome->written;
            done += e.record.uncompressedSize;
            if (progress)
                progress(done, total);
        }
    }
    for (size_t i = 0; i < request.entries.size(); ++i) {
        if (!requestedFound[i])
            outcome->errors.push_back("no entry '" + request.entries[i] + "' in group '" + request.group + "'");
    }
    return true;
}
