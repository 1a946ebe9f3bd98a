// Extraction of package entries through the shared entry writer.
#include "PackageExtractor.h"

#include "Console.h"
#include "EntryExtraction.h"
#include "PackageListing.h"
#include "PieceIndex.h"
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

Status EnsureFolder(const std::string& path)
{
    uint32_t attributes = GetPathAttributes(path.c_str());
    if (attributes != kInvalidFileAttributes) {
        if (attributes & kFileAttributeDirectory)
            return Status::Ok();
        return Status::Error(kErrorAlreadyExists, path + ": exists and is not a folder");
    }
    if (!CreateFolder(path.c_str()))
        return SystemFailure(GetLastErrorValue(), path + ": cannot create the folder");
    return Status::Ok();
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && (folder.back() == kPathSeparator || folder.back() == ':'))
        return folder + name;
    return folder + kPathSeparator + name;
}

// The groups the request names (every group when it names none), by name ignoring case.
std::vector<const ListedGroup*> ChooseGroups(const PackageListing& listing, const std::string& group)
{
    std::vector<const ListedGroup*> chosen;
    for (const ListedGroup& g : listing.groups) {
        if (group.empty() || CompareNoCase(g.name.c_str(), group.c_str()) == 0)
            chosen.push_back(&g);
    }
    return chosen;
}

// The entries the request names, and which of them have been met.
class EntrySelection {
public:
    explicit EntrySelection(const std::vector<std::string>& names) : names_(names), found_(names.size(), false) {}

    // Whether name is to be extracted; marks the requested names it matches as found.
    bool Wants(const std::string& name)
    {
        if (names_.empty())
            return true;
        bool any = false;
        for (size_t i = 0; i < names_.size(); ++i) {
            if (CompareNoCase(names_[i].c_str(), name.c_str()) == 0) {
                found_[i] = true;
                any = true;
            }
        }
        return any;
    }

    // One error for every requested name that was never met.
    void ReportMissing(const std::string& group, ExtractOutcome* outcome) const
    {
        for (size_t i = 0; i < names_.size(); ++i) {
            if (!found_[i])
                outcome->errors.push_back("no entry '" + names_[i] + "' in group '" + group + "'");
        }
    }

private:
    const std::vector<std::string>& names_;
    std::vector<bool> found_;
};

// One extraction under way: where it writes, what it has done.
struct Extraction {
    const ByteView& image;
    const ExtractRequest& request;
    ExtractOutcome* outcome;
    const std::function<void(uint64_t, uint64_t)>& progress;
    uint64_t total;
    uint64_t done;
};

// Writes one entry into folder; a failure becomes an error of the outcome.
void ExtractOneEntry(Extraction& run, const std::string& folder, const std::string& where, const ListedEntry& e)
{
    // Stored bytes are written straight from the image, compressed ones
    // decoded on the way; a damaged stream leaves no file.
    const uint32_t size = e.record.uncompressedSize;
    const bool packed = e.record.compressedSize != 0;
    const uint8_t* stored = nullptr;
    if (!run.image.Bytes(e.record.dataOffset, packed ? e.record.dataLength : size, &stored)) {
        run.outcome->errors.push_back(where + ": the compressed data is damaged; not extracted");
        return;
    }
    PlainContent plain(stored, size);
    PackedContent decoded(stored, e.record.compressedSize, size);
    const IndexedStream* indexed =
        run.request.pieceIndex ? run.request.pieceIndex->Find(e.record.dataOffset, e.record.compressedSize) : nullptr;
    if (packed && indexed)
        decoded.UsePieces(indexed->pieces.data(), static_cast<uint32_t>(indexed->pieces.size()));
    EntryContent& content = packed ? static_cast<EntryContent&>(decoded) : plain;
    EntryInfo info = {e.record.attributes, e.record.creationTime, e.record.lastAccessTime, e.record.lastWriteTime};
    FailureRecord failure;
    SetLastErrorValue(kErrorSuccess);
    if (!WriteEntryFile(folder.c_str(), e.name.c_str(), content, info, run.request.overwriteMode, RecordFailure,
                        &failure)) {
        if (decoded.Damaged()) {
            run.outcome->errors.push_back(where + ": the compressed data is damaged; not extracted");
            return;
        }
        uint32_t code = failure.called ? failure.error : GetLastErrorValue();
        run.outcome->errors.push_back(JoinPath(folder, e.name) + ": cannot write: " + SystemErrorText(code));
        return;
    }
    ++run.outcome->written;
    run.done += e.record.uncompressedSize;
    if (run.progress)
        run.progress(run.done, run.total);
}

// Writes the wanted entries of one group to its folder, which is created
// before the first of them.
void ExtractGroup(Extraction& run, const ListedGroup& g, EntrySelection& selection)
{
    std::string folder = run.request.destination;
    if (!g.name.empty()) {
        if (!IsBareFileName(g.name.c_str())) {
            run.outcome->errors.push_back("group '" + g.name + "': not a usable folder name; skipped");
            return;
        }
        folder = JoinPath(folder, g.name);
    }
    bool folderReady = false;
    // Sorted once per group: a scan of the earlier names per entry took
    // minutes for a group of 65,535 entries.
    const std::vector<bool> reachable = ReachableEntries(g);
    for (size_t j = 0; j < g.entries.size(); ++j) {
        const ListedEntry& e = g.entries[j];
        if (!selection.Wants(e.name))
            continue;
        const std::string where = (g.name.empty() ? std::string() : g.name + kPathSeparator) + e.name;
        if (!reachable[j]) {
            run.outcome->warnings.push_back(where + ": a second entry of this name; skipped");
            continue;
        }
        if (!folderReady) {
            const Status ready = EnsureFolder(folder);
            if (!ready) {
                run.outcome->errors.push_back(ready.Message());
                return;
            }
            folderReady = true;
        }
        ExtractOneEntry(run, folder, where, e);
    }
}

}  // namespace

Status ExtractPackage(const ByteView& image, const ExtractRequest& request, ExtractOutcome* outcome,
                      const std::function<void(uint64_t, uint64_t)>& progress)
{
    PackageListing listing;
    std::string fault;
    if (!ReadPackageListing(image, false, &listing, &fault))
        return Status::Error(kErrorInvalidData, fault);
    const std::vector<const ListedGroup*> chosen = ChooseGroups(listing, request.group);
    if (chosen.empty() && !request.group.empty())
        return Status::Error(kErrorInvalidParameter, "the package has no group '" + request.group + "'");

    uint64_t total = 0;
    for (const ListedGroup* g : chosen)
        for (const ListedEntry& e : g->entries)
            total += e.record.uncompressedSize;
    const Status ready = EnsureFolder(request.destination);
    if (!ready)
        return ready;

    Extraction run{image, request, outcome, progress, total, 0};
    EntrySelection selection(request.entries);
    for (const ListedGroup* g : chosen)
        ExtractGroup(run, *g, selection);
    selection.ReportMissing(request.group, outcome);
    return Status::Ok();
}
