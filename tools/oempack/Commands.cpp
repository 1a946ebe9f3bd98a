// The create, list, verify, extract, stamp and make commands.
#include "Commands.h"


#include "CFileException.h"
#include "Console.h"
#include "LauncherStamp.h"
#include "ListingFormat.h"
#include "MappedFile.h"
#include "PackageDirectory.h"
#include "PackageExtractor.h"
#include "PackageListing.h"
#include "PackageResources.h"
#include "PackageWriter.h"
#include "ProgressBar.h"
#include "StagedOutput.h"
#include "ToolFiles.h"

namespace {

// The bytes of a package: a package file mapped read-only, or the package
// resource of a stamped setup program.
class PackageSource {
public:
    bool Open(const std::string& path, std::string* error)
    {
        int stamped = ReadStampedPackage(path, &copy_, error);
        if (stamped != 0) {
            fromProgram_ = stamped > 0;
            return fromProgram_;
        }
        if (file_.OpenFile(path.c_str(), 1, kOpenExisting, 0))
            return true;
        uint32_t code = GetLastErrorValue();
        if (code == kErrorFileInvalid)
            *error = path + ": empty file, not a package";
        else
            *error = path + ": " + SystemErrorText(code);
        return false;
    }
    ByteView View() const
    {
        if (fromProgram_)
            return ByteView(copy_.data(), static_cast<uint32_t>(copy_.size()));
        return ByteView(file_.GetData(), file_.GetSize());
    }
    uint32_t Size() const { return View().Size(); }

private:
    MappedFile file_;
    std::vector<uint8_t> copy_;
    bool fromProgram_ = false;
};

ByteView ViewOf(const MappedFile& file)
{
    return ByteView(file.GetData(), file.GetSize());
}

std::string Count(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintWarnings(const std::vector<std::string>& warnings)
{
    for (const std::string& w : warnings)
        PrintWarning(w);
}

// Builds the plan's container image with a progress bar.
bool BuildImage(const PackagePlan& plan, bool compress, bool showProgress, MappedFile& image, WriteStats* stats,
                std::string* error)
{
    ProgressBar bar("packing", plan.TotalBytes(), showProgress);
    bool ok = BuildPackageImage(plan, compress, image, [&](uint64_t done) { bar.Update(done); }, stats, error);
    bar.Finish();
    PrintWarnings(stats->warnings);
    return ok;
}

std::string Summary(const WriteStats& stats, uint32_t imageSize, size_t groups)
{
    std::string text = Count(imageSize, "byte", "bytes") + ", " + Count(groups, "group", "groups") + ", " +
                       Count(stats.entries, "entry", "entries");
    if (stats.compressedEntries)
        text += " (" + std::to_string(stats.compressedEntries) + " compressed, " +
                std::to_string(stats.sourceBytes) + " bytes of files stored in " +
                std::to_string(stats.storedBytes) + ")";
    return text;
}

// Writes the package (or nothing, on failure) via a temporary file.
bool WritePackageFile(const MappedFile& image, const std::string& path, std::string* error)
{
    StagedOutput output;
    if (!output.Begin(path, error))
        return false;
    try {
        if (!WriteImageFile(image, output.TemporaryPath().c_str())) {
            *error = path + ": cannot write: " + SystemErrorText(GetLastErrorValue());
            return false;
        }
    } catch (const CFileException& e) {
        *error = path + ": cannot write: " + SystemErrorText(static_cast<uint32_t>(e.m_lOsError));
        return false;
    }
    return output.Commit(error);
}

std::string VerifyFaultText(const VerifyReport& report)
{
    std::string text;
    for (const std::string& f : report.faults)
        text += (text.empty() ? "" : "; ") + f;
    return text;
}

bool Stamp(const std::string& launcher, const std::string& output, const void* package, uint32_t packageSize,
           const std::string& languageIni, std::string* error)
{
    if (StampLauncher(launcher.c_str(), output.c_str(), package, packageSize, languageIni.data(),
                      static_cast<uint32_t>(languageIni.size())))
        return true;
    uint32_t code = GetLastErrorValue();
    if (code == 193)  // ERROR_BAD_EXE_FORMAT
        *error = launcher + ": not a Windows program; the launcher must be the built Setup.exe";
    else
        *error = "cannot write " + output + " from " + launcher + ": " + SystemErrorText(code);
    return false;
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
    PackagePlan plan;
    std::string error;
    std::vector<std::string> warnings;
    if (!CollectFileArguments(options.files, plan, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    for (const std::string& folder : options.fromDirectories) {
        if (!CollectFolderGroups(folder, kCommonFilesGroup, plan, &warnings, &error)) {
            PrintError(error);
            return kExitFailure;
        }
    }
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
    MappedFile image;
    WriteStats stats;
    if (!BuildImage(plan, options.compress, options.progress, image, &stats, &error) ||
        !WritePackageFile(image, options.package, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    PrintOut("created " + options.package + ": " + Summary(stats, image.GetSize(), plan.Groups().size()) + "\n");
    return kExitSuccess;
}

int RunList(const Options& options)
{
    PackageSource package;
    std::string error;
    if (!package.Open(options.package, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    PackageListing listing;
    if (!ReadPackageListing(package.View(), false, &listing, &error)) {
        PrintError(options.package + ": " + error);
        return kExitFailure;
    }
    PrintOut(options.json ? FormatListingJson(listing, options.package, AnsiToUtf8)
                          : FormatListingText(listing, options.package));
    return kExitSuccess;
}

int RunVerify(const Options& options)
{
    PackageSource package;
    std::string error;
    if (!package.Open(options.package, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    VerifyReport report;
    {
        ProgressBar bar("verifying", package.Size(), options.progress);
        VerifyPackageImage(package.View(), &report, [&](uint64_t done, uint64_t) { bar.Update(done); });
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
    PrintOut(options.package + ": OK, " + Count(report.listing.groups.size(), "group", "groups") + ", " +
             Count(report.listing.fileEntries, "entry", "entries") + ", " +
             Count(report.decodedEntries, "compressed entry", "compressed entries") + " decoded\n");
    return kExitSuccess;
}

int RunExtract(const Options& options)
{
    PackageSource package;
    std::string error;
    if (!package.Open(options.package, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    ExtractRequest request;
    request.destination = options.destination;
    request.group = options.extractGroup;
    request.entries = options.extractEntries;
    request.overwriteMode = options.overwriteMode;
    ExtractOutcome outcome;
    bool ok;
    {
        ProgressBar bar("extracting", package.Size(), options.progress);
        ok = ExtractPackage(package.View(), request, &outcome, [&](uint64_t done, uint64_t) { bar.Update(done); },
                            &error);
    }
    if (!ok) {
        PrintError(options.package + ": " + error);
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
    PackageSource package;
    std::string error;
    if (!package.Open(options.packagePath, &error)) {
        PrintError(error);
        return kExitFailure;
    }
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
    if (!options.languageIni.empty() && !ReadWholeFile(options.languageIni, &languageIni, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    if (!Stamp(options.launcher, options.output, bytes.Data(), bytes.Size(), languageIni, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    PrintOut("stamped " + options.output + ": package of " + std::to_string(bytes.Size()) + " bytes, " +
             std::to_string(languageIni.size()) + " bytes of language settings\n");
    return kExitSuccess;
}

int RunMake(const Options& options)
{
    std::string error;
    std::string installerName = FileNameOf(options.installer);
    PackagePlan plan;
    std::vector<std::string> warnings;
    if (!plan.AddContent(kConfigGroup, kConfigEntry, ConfigIniText(installerName), &error) ||
        !CollectFileArguments({FileArgument{kCommonFilesGroup, options.installer}}, plan, &error) ||
        (!options.payload.empty() && !CollectFolderGroups(options.payload, kCommonFilesGroup, plan, &warnings, &error))) {
        PrintError(error);
        return kExitFailure;
    }
    PrintWarnings(warnings);
    std::string launcher = options.launcher.empty() ? ProgramFolder() + "\\Setup.exe" : options.launcher;

    MappedFile image;
    WriteStats stats;
    if (!BuildImage(plan, options.compress, options.progress, image, &stats, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    if (image.GetSize() < kMinimumPackageSize && options.compress) {
        // Compression made the package too small for the launcher; stored
        // plainly it may reach the minimum.
        image.Close();
        stats = WriteStats();
        if (!BuildImage(plan, false, options.progress, image, &stats, &error)) {
            PrintError(error);
            return kExitFailure;
        }
        if (image.GetSize() >= kMinimumPackageSize)
            PrintWarning("compressed, the package would be under " + std::to_string(kMinimumPackageSize) +
                         " bytes; entries stored uncompressed");
    }
    if (image.GetSize() < kMinimumPackageSize) {
        PrintError("the package would be " + std::to_string(image.GetSize()) +
                   " bytes; the launcher refuses packages under " + std::to_string(kMinimumPackageSize) +
                   " bytes (is " + options.installer + " really the installer?)");
        return kExitFailure;
    }
    VerifyReport report;
    VerifyPackageImage(ViewOf(image), &report);
    if (!report.faults.empty()) {
        PrintError("the built package does not verify: " + VerifyFaultText(report));
        return kExitFailure;
    }
    std::string languageIni = LanguageIniText(options.useDefaultLanguage, options.selectLanguage);
    if (!Stamp(launcher, options.output, image.GetData(), image.GetSize(), languageIni, &error)) {
        PrintError(error);
        return kExitFailure;
    }
    PrintOut("made " + options.output + " from " + launcher + ": installer " + installerName + ", package " +
             Summary(stats, image.GetSize(), plan.Groups().size()) + "\n");
    return kExitSuccess;
}
