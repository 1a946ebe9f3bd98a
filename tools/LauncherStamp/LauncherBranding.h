// The vendor's identity written into a launcher: version block strings and numbers, icon, progress label, execution level.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LauncherManifest.h"
#include "PackageResources.h"
#include "ResourceSource.h"
#include "ResourceTree.h"
#include "Status.h"
#include "VersionResource.h"

class PeImage;

// The progress label's limit in characters (code points). The label is one
// line of 261 dialog units in 9-point SimSun; this many CJK characters, each
// twice as wide as a Latin one, still show in full under Wine's fonts.
constexpr size_t kMaxProgressTextLength = 30;

// A version as given: its numbers (missing parts 0) and the text of them.
struct VersionOption {
    VersionNumber number{};
    std::string text;  // the parts given, "5.2"
};

// Reads "A[.B[.C[.D]]]", each part a decimal number 0..65535. Refused
// (kErrorInvalidParameter, naming option and value): more than four parts, an
// empty part, a part that is not a number or is above 65535.
Status ParseVersionOption(const char* option, const std::string& text, VersionOption* version);

// Refuses (kErrorInvalidParameter, naming option) text that is not UTF-8.
Status CheckUtf8Option(const char* option, const std::string& text);

// Refuses (kErrorInvalidParameter) a progress label that is not UTF-8, holds
// a control character (it is one line) or is longer than kMaxProgressTextLength.
Status CheckProgressText(const std::string& text);

struct LauncherBranding {
    // UTF-8 text of the version block's strings.
    std::optional<std::string> productName;   // ProductName
    std::optional<std::string> company;       // CompanyName
    std::optional<std::string> description;   // FileDescription
    std::optional<std::string> copyright;     // LegalCopyright
    std::optional<VersionOption> productVersion;
    std::optional<VersionOption> fileVersion;  // default: the product version
    std::optional<ExecutionLevel> executionLevel;
    // The icon file's path and bytes (read by the caller).
    std::string iconPath;
    std::optional<std::vector<uint8_t>> icon;
    std::optional<std::string> progressText;  // UTF-8, CheckProgressText
    // OriginalFilename when a version is given: the output's file name.
    std::string originalFilename;

    // True when nothing is set (no icon named either): the launcher's resources stay as they are.
    bool Empty() const;
};

// The branded resources of one stamp, owning their bytes while the tree refers to them.
class BrandedResources {
public:
    BrandedResources() = default;
    BrandedResources(const BrandedResources&) = delete;
    BrandedResources& operator=(const BrandedResources&) = delete;

    // Changes tree (read from image) as branding asks: the version block
    // (fixed versions, strings, OriginalFilename when a version is given), the icon group IDR_MAINFRAME and its images (the old images
    // dropped, the new ones numbered from 1 past ids still in use), string
    // IDS_PROGRESS_LABEL and the manifest's execution level; each keeps its
    // language. Refused, with what is wrong: a launcher without the resource
    // to change, an icon file that is not one (IconFile::Parse), a version
    // block that does not parse or would not fit its 16-bit lengths.
    Status Apply(const PeImage& image, const LauncherBranding& branding, ResourceTree* tree);

private:
    // One resource each: read from image (refused when the launcher lacks it), changed, put back.
    Status ApplyVersion(const PeImage& image, const LauncherBranding& branding, ResourceTree* tree);
    Status ApplyIcon(const PeImage& image, const LauncherBranding& branding, ResourceTree* tree);
    Status ApplyLabel(const PeImage& image, const std::string& text, ResourceTree* tree);
    Status ApplyLevel(const PeImage& image, ExecutionLevel level, ResourceTree* tree);
    // Puts bytes under type/name/language of tree, kept alive here.
    void Put(ResourceTree* tree, uint16_t type, uint16_t name, uint16_t language, std::vector<uint8_t> bytes);

    struct Owned {
        std::vector<uint8_t> bytes;
        MemorySource source{ByteView()};
    };
    std::vector<std::unique_ptr<Owned>> owned_;
};

// Applies branding to the launcher at path without writing anything: its
// refusals (BrandedResources::Apply), with the path in front for the launcher's own.
Status CheckLauncherBranding(const char* launcherPath, const LauncherBranding& branding);

// What list shows of a setup program's identity.
struct LauncherIdentity {
    std::vector<std::pair<std::string, std::string>> strings;  // the version block's, UTF-8, in order
    std::string fileVersion;     // "a.b.c.d" of the fixed block; empty without one
    std::string productVersion;
    std::string executionLevel;  // as the manifest says; empty without one
    std::vector<std::string> iconSizes;  // "32x32" per image of IDR_MAINFRAME
    std::string progressText;    // UTF-8; empty without the string
};

// Reads the identity of the program at path; what it lacks stays empty.
// Refused only when the file is not a program or its resources do not read.
Status ReadLauncherIdentity(const char* path, LauncherIdentity* identity);

// The manifest (RT_MANIFEST 1) of a program, as text; empty when it has none.
Status ReadProgramManifest(const PeImage& image, std::string* manifest);
