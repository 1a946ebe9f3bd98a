// The create, list, verify, extract, stamp and make commands.
#include "Commands.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "Console.h"
#include "FileRangeSource.h"
#include "FileSink.h"
#include "IconFile.h"
#include "InstallerChecks.h"
#include "LauncherBranding.h"
#include "LauncherSearch.h"
#include "LauncherStamp.h"
#include "ListingFormat.h"
#include "MappedFile.h"
#include "MemorySink.h"
#include "PackageDirectory.h"
#include "PackageExtractor.h"
#include "PackageListing.h"
#include "PackageResources.h"
#include "PackageWriter.h"
#include "PeImage.h"
#include "PieceIndex.h"
#include "ProgramVersion.h"
#include "ProgressBar.h"
#include "ResourceSource.h"
#include "StagedFile.h"
#include "ToolFiles.h"

namespace {

// The bytes of a package: a package file mapped read-only, or the package
// resource of a stamped setup program.
class PackageSource {
public:
    // With launcher, a package file larger than the launcher of that
    // architecture can load is refused before it is mapped.
    Status Open(const std::string& path, const LauncherArchitecture* launcher = nullptr)
    {
        std::vector<uint8_t> index;
        const Status stamped = ReadStampedPackage(path, &fromProgram_, &copy_, &machine_, &index);
        if (stamped && fromProgram_ && !index.empty())
            PieceIndex::Decode(ByteView(index.data(), static_cast<uint32_t>(index.size())), &pieceIndex_);
        if (!stamped || fromProgram_)
            return stamped;
        bool isFolder = false;
        uint64_t size = 0;
        if (launcher != nullptr && QueryPath(path, &isFolder, &size) && !isFolder) {
            const Status fits = CheckLaunchablePackageSize(size, *launcher);
            if (!fits)
                return fits.WithContext(path);
        }
        if (file_.OpenFile(path.c_str(), 1, kOpenExisting, 0))
            return Status::Ok();
        uint32_t code = GetLastErrorValue();
        if (code == kErrorFileInvalid)
            return Status::Error(code, path + ": empty file, not a package");
        return SystemFailure(code, path);
    }
    ByteView View() const
    {
        if (fromProgram_)
            return ByteView(copy_.data(), static_cast<uint32_t>(copy_.size()));
        return ByteView(file_.GetData(), file_.GetSize());
    }
    uint32_t Size() const { return View().Size(); }
    // The architecture of the stamped program the package was read from
    // (MachineName); empty for a package file.
    std::string Architecture() const { return fromProgram_ ? MachineName(machine_) : std::string(); }
    // True when the package was read from a stamped setup program.
    bool FromProgram() const { return fromProgram_; }
    // The stamped program's piece index (empty without one, or for a package file).
    const PieceIndex& Index() const { return pieceIndex_; }
    // The bytes for stamping: a package file is read from the file in pieces
    // (the mapping's pages are not touched), a stamped program's package from memory.
    Status OpenStampSource(const std::string& path, std::unique_ptr<ResourceSource>* source) const
    {
        if (fromProgram_) {
            source->reset(new MemorySource(View()));
            return Status::Ok();
        }
        auto file = std::make_unique<FileRangeSource>();
        const Status opened = file->Open(path.c_str());
        if (!opened)
            return SystemFailure(opened.Code(), path);
        *source = std::move(file);
        return Status::Ok();
    }

private:
    MappedFile file_;
    std::vector<uint8_t> copy_;
    PieceIndex pieceIndex_;
    bool fromProgram_ = false;
    uint16_t machine_ = 0;
};

std::string Count(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintWarnings(const std::vector<std::string>& warnings)
{
    for (const std::string& w : warnings)
        PrintWarning(w);
}

// A check's warning; an empty one is none.
void PrintWarningIfAny(const std::string& warning)
{
    if (!warning.empty())
        PrintWarning(warning);
}

// The number of jobs -j asks for: 1 to kMaxJobs; without -j one per processor.
Status ParseJobs(const Options& options, unsigned* jobs)
{
    *jobs = DefaultJobCount();
    if (!options.jobsGiven)
        return Status::Ok();
    unsigned long long n = 0;
    bool digits = !options.jobs.empty();
    for (char c : options.jobs) {
        if (c < '0' || c > '9' || n > kMaxJobs) {
            digits = false;
            break;
        }
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (!digits || n == 0 || n > kMaxJobs)
        return Status::Error(kErrorInvalidParameter, "-j takes a number of jobs from 1 to " +
                                                         std::to_string(kMaxJobs) + ", not '" + options.jobs + "'");
    *jobs = static_cast<unsigned>(n);
    return Status::Ok();
}

// Writes the plan's package into sink with a progress bar.
Status WriteWithProgress(const PackagePlan& plan, const WriteSettings& settings, bool showProgress,
                         ByteSink& sink, WriteStats* stats)
{
    ProgressBar bar("packing", plan.TotalBytes(), showProgress);
    const Status written = WritePackage(plan, settings, sink, [&](uint64_t done) { bar.Update(done); }, stats);
    bar.Finish();
    PrintWarnings(stats->warnings);
    return written;
}

std::string Summary(const WriteStats& stats, uint64_t imageSize, size_t groups)
{
    std::string text = Count(imageSize, "byte", "bytes") + ", " + Count(groups, "group", "groups") + ", " +
                       Count(stats.entries, "entry", "entries");
    if (stats.compressedEntries)
        text += " (" + std::to_string(stats.compressedEntries) + " compressed, " +
                std::to_string(stats.sourceBytes) + " bytes of files stored in " +
                std::to_string(stats.storedBytes) + ")";
    return text;
}

// Starts writing path under a temporary name beside it; a refusal in the tool's words.
Status BeginOutput(StagedFile& output, const std::string& path)
{
    switch (output.Begin(path)) {
    case StagedFileRefusal::kNone:
        return Status::Ok();
    case StagedFileRefusal::kPathTooLong:
    case StagedFileRefusal::kFolderTooLong:
        return Status::Error(kErrorFilenameExcedRange, path + ": path too long");
    case StagedFileRefusal::kTargetIsFolder:
        return Status::Error(kErrorAccessDenied, path + ": is a folder");
    case StagedFileRefusal::kNoFolder:
        return Status::Error(kErrorPathNotFound, path + ": the folder " + output.Folder() + " does not exist");
    case StagedFileRefusal::kCannotCreate:
        break;
    }
    return SystemFailure(GetLastErrorValue(), path + ": cannot create a file in " + output.Folder());
}

// A package file's failures in the tool's words: "<path>: cannot write: <system text>".
std::string PackageFileFailure(uint32_t code, const std::string& path, bool)
{
    return SystemFailure(code, path + ": cannot write").Message();
}

// Writes the package (or nothing, on failure) via a temporary file.
Status WritePackageFile(const PackagePlan& plan, WriteSettings settings, const Options& options,
                        WriteStats* stats, uint64_t* size)
{
    StagedFile output;
    Status status = BeginOutput(output, options.package);
    if (!status)
        return status;
    // Large compressed streams wait in the output's folder.
    settings.spillFolder = output.Folder();
    FileSink sink(PackageFileFailure);
    status = sink.Create(output.TemporaryPath(), true);
    if (status)
        status = WriteWithProgress(plan, settings, options.progress, sink, stats);
    if (!status)
        return status;
    *size = sink.Size();
    if (!output.Commit())
        return SystemFailure(GetLastErrorValue(), options.package + ": cannot write");
    return Status::Ok();
}

std::string VerifyFaultText(const VerifyReport& report)
{
    std::string text;
    for (const std::string& f : report.faults)
        text += (text.empty() ? "" : "; ") + f;
    return text;
}

Status Stamp(const std::string& launcher, const std::string& output, ResourceSource& package,
             const std::string& languageIni, const LauncherBranding& branding,
             const PieceIndex& pieceIndex = PieceIndex())
{
    StampReport report;
    const std::vector<uint8_t> index = pieceIndex.Empty() ? std::vector<uint8_t>() : pieceIndex.Encode();
    const Status stamped =
        StampLauncherFromSource(launcher.c_str(), output.c_str(), package, languageIni.data(),
                                static_cast<uint32_t>(languageIni.size()), &report, &branding,
                                ByteView(index.data(), static_cast<uint32_t>(index.size())));
    if (stamped) {
        if (report.droppedCertificateSize != 0)
            PrintNote(launcher + " is signed: its signature (" + std::to_string(report.droppedCertificateSize) +
                      " bytes) was left out of " + output + "; sign the stamped program");
        return Status::Ok();
    }
    const uint32_t code = stamped.Code();
    if (code == kErrorBadExeFormat || code == kErrorExeMachineTypeMismatch)
        return LauncherFailure(launcher, stamped);
    if (code == kErrorInvalidData)
        return stamped;
    return SystemFailure(code, "cannot write " + output + " from " + launcher);
}

// The time limit of reproducible builds: SOURCE_DATE_EPOCH, whole seconds
// since 1970 in decimal, when set and not empty.
Status ApplySourceDateEpoch(PackagePlan& plan)
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0')
        return Status::Ok();
    // 10^11 seconds (the year 5138) keeps the ticks far inside 64 bits.
    constexpr uint64_t kMaxSeconds = 100000000000ull;
    uint64_t seconds = 0;
    for (const char* p = text; *p != '\0' && seconds <= kMaxSeconds; ++p) {
        if (*p < '0' || *p > '9') {
            seconds = kMaxSeconds + 1;
            break;
        }
        seconds = seconds * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (seconds > kMaxSeconds)
        return Status::Error(kErrorInvalidParameter,
                             std::string("SOURCE_DATE_EPOCH: not a number of seconds since 1970: ") + text);
    const uint64_t ticks = kUnixEpochTicks + seconds * 10000000ull;
    plan.SetTimeLimit(FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)});
    return Status::Ok();
}

// make's plan: Config\CONFIG.INI naming the installer, the installer in
// Commonfiles and the payload folder's groups.
Status PlanMake(const Options& options, const std::string& installerName, PackagePlan& plan,
                std::vector<std::string>* warnings)
{
    Status status = ApplySourceDateEpoch(plan);
    if (status)
        status = plan.AddContent(kConfigGroup, kConfigEntry, ConfigIniText(installerName));
    if (status)
        status = CollectFileArguments({FileArgument{kCommonFilesGroup, options.installer}}, plan);
    if (status && !options.payload.empty())
        status = CollectFolderGroups(options.payload, kCommonFilesGroup, plan, warnings);
    return status;
}

// make's installer must be a program that can start where the launcher runs:
// one that cannot start anywhere is refused, one that cannot start everywhere
// the launcher can is warned about.
Status CheckMakeInstaller(const Options& options, LauncherArchitecture launcher)
{
    uint16_t machine = 0;
    const Status checked = CheckInstallerProgram(options.installer, &machine);
    if (checked)
        PrintWarningIfAny(InstallerMachineWarning(options.installer, machine, launcher));
    return checked;
}

// make's package, compressed on request unless that leaves it below the
// launcher's minimum: then stored plainly, which may reach it.
Status WriteMakePackage(const PackagePlan& plan, WriteSettings settings, const Options& options, ByteSink& sink,
                        WriteStats* stats)
{
    Status status = WriteWithProgress(plan, settings, options.progress, sink, stats);
    if (!status || !settings.compress || sink.Size() >= kMinimumPackageSize)
        return status;
    *stats = WriteStats();
    settings.compress = false;
    status = sink.Restart();
    if (status)
        status = WriteWithProgress(plan, settings, options.progress, sink, stats);
    if (status && sink.Size() >= kMinimumPackageSize)
        PrintWarning("compressed, the package would be under " + std::to_string(kMinimumPackageSize) +
                     " bytes; entries stored uncompressed");
    return status;
}

// The identity stamp and make write: the options' with the icon file read and
// checked and OriginalFilename the output's name, then tried on the launcher,
// so that a refusal comes before anything is written.
Status PrepareBranding(const Options& options, const std::string& launcher, LauncherBranding* branding)
{
    *branding = options.branding;
    branding->originalFilename = FileNameOf(options.output);
    if (branding->Empty())
        return Status::Ok();
    if (!branding->iconPath.empty()) {
        std::string bytes;
        Status status = ReadWholeFile(branding->iconPath, &bytes);
        IconFile icon;
        if (status)
            status = IconFile::Parse(ByteView(reinterpret_cast<const uint8_t*>(bytes.data()),
                                              static_cast<uint32_t>(bytes.size())),
                                     &icon)
                         .WithContext(branding->iconPath);
        if (!status)
            return status;
        branding->icon = std::vector<uint8_t>(bytes.begin(), bytes.end());
    }
    return CheckLauncherBranding(launcher.c_str(), *branding);
}

// make's warning for an installer that asks for administrator rights in its
// own manifest when Setup.exe asks for less: Windows refuses to start it from
// a process that is not elevated (error 740).
void WarnOfInstallerElevation(const Options& options)
{
    const std::optional<ExecutionLevel>& level = options.branding.executionLevel;
    if (!level || *level == ExecutionLevel::kRequireAdministrator)
        return;
    PeImage installer;
    std::string manifest;
    ExecutionLevel asked = ExecutionLevel::kAsInvoker;
    if (PeImage::Open(options.installer.c_str(), &installer) && ReadProgramManifest(installer, &manifest) &&
        ReadManifestExecutionLevel(manifest, &asked) && asked == ExecutionLevel::kRequireAdministrator)
        PrintWarning(options.installer + " asks for requireAdministrator in its manifest, " + options.output +
                     " for " + ExecutionLevelName(*level) + ": started from a Setup.exe that is not elevated, " +
                     "the installer fails to start (error 740, elevation required)");
}

// A stamped program's manifest must be the launcher's for its architecture;
// a fault text when it is not, else empty.
std::string ManifestFault(const std::string& path)
{
    PeImage image;
    LauncherArchitecture architecture = LauncherArchitecture::kX86;
    std::string manifest;
    ExecutionLevel level = ExecutionLevel::kRequireAdministrator;
    Status status = PeImage::Open(path.c_str(), &image);
    if (status)
        status = LauncherArchitectureOf(image, &architecture);
    if (status)
        status = ReadProgramManifest(image, &manifest);
    if (status && manifest.empty())
        return "the program has no manifest";
    if (status)
        status = CheckLauncherManifest(manifest, architecture, &level);
    return status ? std::string() : status.Message();
}

// Reports a failed command step; the command's exit status.
int Fail(const Status& failure)
{
    PrintError(failure.Message());
    return kExitFailure;
}

}  // namespace

std::string LanguageIniText(int useDefault, const std::string& selectLanguage)
{
    return "[LANGUAGE]\r\nUseDefault =" + std::to_string(useDefault) + "\r\nSelectLanguage = " + selectLanguage +
           "\r\n";
}

std::string ConfigIniText(const std::string& installerName)
{
    return std::string("[") + kCommonFilesGroup + "]\r\n" + kInstallerKey + "=" + installerName + "\r\n";
}

int RunCreate(const Options& options)
{
    WriteSettings settings;
    settings.compress = options.compress;
    Status status = ParseJobs(options, &settings.jobs);
    if (!status)
        return Fail(status);
    PackagePlan plan;
    std::vector<std::string> warnings;
    status = ApplySourceDateEpoch(plan);
    if (status)
        status = CollectFileArguments(options.files, plan);
    for (size_t i = 0; status && i < options.fromDirectories.size(); ++i)
        status = CollectFolderGroups(options.fromDirectories[i], kCommonFilesGroup, plan, &warnings);
    if (!status)
        return Fail(status);
    PrintWarnings(warnings);
    for (const PlannedGroup& group : plan.Groups()) {
        for (const PlannedEntry& entry : group.entries) {
            if (SameFile(entry.sourcePath, options.package)) {
                PrintError(entry.sourcePath + ": the package to create is also one of its inputs");
                return kExitFailure;
            }
        }
    }
    if (plan.EntryCount() == 0) {
        PrintError("nothing to pack: the folders hold no files");
        return kExitFailure;
    }
    WriteStats stats;
    uint64_t size = 0;
    status = WritePackageFile(plan, settings, options, &stats, &size);
    if (!status)
        return Fail(status);
    PrintOut("created " + options.package + ": " + Summary(stats, size, plan.Groups().size()) + "\n");
    return kExitSuccess;
}

int RunList(const Options& options)
{
    PackageSource package;
    const Status opened = package.Open(options.package);
    if (!opened)
        return Fail(opened);
    std::string error;
    PackageListing listing;
    if (!ReadPackageListing(package.View(), false, &listing, &error)) {
        PrintError(options.package + ": " + error);
        return kExitFailure;
    }
    std::string fileVersion;
    LauncherIdentity identity;
    const LauncherIdentity* shown = nullptr;
    if (package.FromProgram()) {
        fileVersion = ReadProgramFileVersion(options.package);
        if (fileVersion.empty())
            fileVersion = "none";
        if (ReadLauncherIdentity(options.package.c_str(), &identity))
            shown = &identity;
    }
    PrintOut(options.json ? FormatListingJson(listing, options.package, package.Architecture(), fileVersion,
                                              AnsiToUtf8, shown)
                          : FormatListingText(listing, options.package, package.Architecture(), fileVersion, shown));
    return kExitSuccess;
}

int RunVerify(const Options& options)
{
    PackageSource package;
    const Status opened = package.Open(options.package);
    if (!opened)
        return Fail(opened);
    VerifyReport report;
    {
        ProgressBar bar("verifying", package.Size(), options.progress);
        VerifyPackageImage(package.View(), &report, [&](uint64_t done, uint64_t) { bar.Update(done); });
    }
    if (package.FromProgram()) {
        const std::string fault = ManifestFault(options.package);
        if (!fault.empty())
            report.faults.push_back(fault);
    }
    for (const std::string& note : report.notes)
        PrintOut(options.package + ": note: " + note + "\n");
    for (const std::string& fault : report.faults)
        PrintError(options.package + ": " + fault);
    if (!report.faults.empty()) {
        PrintError(options.package + ": verification failed (" + std::to_string(report.faults.size()) +
                   (report.faults.size() == 1 ? " fault)" : " faults)"));
        return kExitFailure;
    }
    const std::string architecture = package.Architecture();
    PrintOut(options.package + ": OK, " + (architecture.empty() ? "" : "architecture " + architecture + ", ") +
             Count(report.listing.groups.size(), "group", "groups") + ", " +
             Count(report.listing.fileEntries, "entry", "entries") + ", " +
             Count(report.decodedEntries, "compressed entry", "compressed entries") + " decoded\n");
    return kExitSuccess;
}

int RunExtract(const Options& options)
{
    PackageSource package;
    const Status opened = package.Open(options.package);
    if (!opened)
        return Fail(opened);
    ExtractRequest request;
    request.destination = options.destination;
    request.group = options.extractGroup;
    request.entries = options.extractEntries;
    request.overwriteMode = options.overwriteMode;
    request.pieceIndex = &package.Index();
    ExtractOutcome outcome;
    Status extracted;
    {
        ProgressBar bar("extracting", package.Size(), options.progress);
        extracted = ExtractPackage(package.View(), request, &outcome,
                                   [&](uint64_t done, uint64_t) { bar.Update(done); });
    }
    if (!extracted) {
        PrintError(options.package + ": " + extracted.Message());
        return kExitFailure;
    }
    PrintWarnings(outcome.warnings);
    for (const std::string& e : outcome.errors)
        PrintError(e);
    PrintOut("extracted " + Count(outcome.written, "entry", "entries") + " to " + options.destination + "\n");
    return outcome.errors.empty() ? kExitSuccess : kExitFailure;
}

int RunStamp(const Options& options)
{
    ChosenLauncher launcher;
    Status status = ChooseLauncher(options, &launcher);
    PackageSource package;
    if (status)
        status = package.Open(options.packagePath, &launcher.architecture);
    if (status)
        status = CheckLaunchablePackageSize(package.Size(), launcher.architecture).WithContext(options.packagePath);
    if (!status)
        return Fail(status);
    const ByteView bytes = package.View();
    if (bytes.Size() < kMinimumPackageSize) {
        PrintError(options.packagePath + ": the package is " + std::to_string(bytes.Size()) +
                   " bytes; the launcher refuses packages under " + std::to_string(kMinimumPackageSize) + " bytes");
        return kExitFailure;
    }
    VerifyReport report;
    VerifyPackageImage(bytes, &report);
    if (!report.faults.empty()) {
        PrintError(options.packagePath + ": not a valid package: " + VerifyFaultText(report));
        return kExitFailure;
    }
    std::string languageIni(kDefaultLanguageIni, kDefaultLanguageIniSize);
    if (!options.languageIni.empty())
        status = ReadWholeFile(options.languageIni, &languageIni);
    if (status && !options.languageIni.empty())
        PrintWarningIfAny(SelectLanguageWarning(options.languageIni, languageIni));
    LauncherBranding branding;
    if (status)
        status = PrepareBranding(options, launcher.path, &branding);
    std::unique_ptr<ResourceSource> source;
    if (status)
        status = package.OpenStampSource(options.packagePath, &source);
    if (status)
        status = Stamp(launcher.path, options.output, *source, languageIni, branding);
    if (!status)
        return Fail(status);
    PrintOut("stamped " + options.output + " from " + launcher.path + ": package of " +
             std::to_string(bytes.Size()) + " bytes, " +
             std::to_string(languageIni.size()) + " bytes of language settings\n");
    return kExitSuccess;
}

int RunMake(const Options& options)
{
    WriteSettings settings;
    settings.compress = options.compress;
    Status status = ParseJobs(options, &settings.jobs);
    // The launcher before the package: a make that cannot stamp writes nothing.
    ChosenLauncher chosen;
    if (status)
        status = ChooseLauncher(options, &chosen);
    if (status)
        status = CheckMakeInstaller(options, chosen.architecture);
    LauncherBranding branding;
    if (status)
        status = PrepareBranding(options, chosen.path, &branding);
    if (!status)
        return Fail(status);
    WarnOfInstallerElevation(options);
    const std::string& launcher = chosen.path;
    const std::string installerName = FileNameOf(options.installer);
    PackagePlan plan;
    std::vector<std::string> warnings;
    status = PlanMake(options, installerName, plan, &warnings);
    if (!status)
        return Fail(status);
    PrintWarnings(warnings);

    // The package goes to a temporary file beside the output, never moved
    // into place: it is gone when make ends. Where no file can be made there,
    // the package is built in memory and the stamp reports the output's fault.
    StagedFile staged;
    FileSink fileSink(PackageFileFailure);
    MemorySink memorySink;
    ByteSink* sink = &memorySink;
    if (staged.Begin(options.output) == StagedFileRefusal::kNone) {
        settings.spillFolder = staged.Folder();
        status = fileSink.Create(staged.TemporaryPath(), false);
        if (!status)
            return Fail(status);
        sink = &fileSink;
    }
    WriteStats stats;
    status = WriteMakePackage(plan, settings, options, *sink, &stats);
    if (!status)
        return Fail(status);
    const uint64_t size = sink->Size();
    if (size < kMinimumPackageSize) {
        PrintError("the package would be " + std::to_string(size) +
                   " bytes; the launcher refuses packages under " + std::to_string(kMinimumPackageSize) +
                   " bytes (is " + options.installer + " really the installer?)");
        return kExitFailure;
    }
    status = CheckLaunchablePackageSize(size, chosen.architecture);
    if (!status)
        return Fail(status);
    {
        MappedFile mapped;
        ByteView view(memorySink.Bytes().data(), static_cast<uint32_t>(memorySink.Bytes().size()));
        if (sink == &fileSink) {
            if (!mapped.OpenFile(staged.TemporaryPath().c_str(), 1, kOpenExisting, 0))
                return Fail(SystemFailure(GetLastErrorValue(), staged.TemporaryPath() + ": cannot read"));
            view = ByteView(mapped.GetData(), mapped.GetSize());
        }
        VerifyReport report;
        VerifyPackageImage(view, &report);
        if (!report.faults.empty()) {
            PrintError("the built package does not verify: " + VerifyFaultText(report));
            return kExitFailure;
        }
    }
    // The package file is read for the stamp, not taken from a mapping: on
    // Linux, writing the output from mapped pages of a file just written
    // costs far more than reading it into a buffer.
    const std::string languageIni = LanguageIniText(options.useDefaultLanguage, options.selectLanguage);
    if (sink == &fileSink) {
        FileRangeSource source;
        status = source.Open(staged.TemporaryPath().c_str());
        if (status)
            status = Stamp(launcher, options.output, source, languageIni, branding, stats.pieceIndex);
    } else {
        MemorySource source(ByteView(memorySink.Bytes().data(), static_cast<uint32_t>(size)));
        status = Stamp(launcher, options.output, source, languageIni, branding, stats.pieceIndex);
    }
    if (!status)
        return Fail(status);
    PrintOut("made " + options.output + " from " + launcher + ": installer " + installerName + ", package " +
             Summary(stats, size, plan.Groups().size()) + "\n");
    return kExitSuccess;
}
