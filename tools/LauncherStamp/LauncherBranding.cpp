// Writes the vendor's identity into the launcher's resources, and reads it back for list.
#include "LauncherBranding.h"

#include <set>

#include "IconFile.h"
#include "PeFormat.h"
#include "PeImage.h"
#include "StringTableBlock.h"
#include "Utf16Text.h"
#include "resource.h"

namespace {

// The launcher's resources are small; anything larger is not one of them.
constexpr uint64_t kMaxEditedResourceSize = 1u << 20;
constexpr uint32_t kMaxVersionParts = 4;
// The version block's resource name (VS_VERSION_INFO).
constexpr uint16_t kVersionInfoId = 1;

Status Usage(const std::string& message) { return Status::Error(kErrorInvalidParameter, message); }

std::u16string Utf16(const std::string& utf8)
{
    std::u16string units;
    Utf8ToUtf16(utf8, &units);
    return units;
}

// The only language of type/name in tree, or the first of several; false when there is none.
bool FindResource(const ResourceTree& tree, uint16_t type, uint16_t name, uint16_t* language,
                  const ResourceData** data)
{
    const auto t = tree.Types().find(ResourceId::Number(type));
    if (t == tree.Types().end())
        return false;
    const auto n = t->second.names.find(ResourceId::Number(name));
    if (n == t->second.names.end() || n->second.languages.empty())
        return false;
    *language = n->second.languages.begin()->first;
    *data = &n->second.languages.begin()->second;
    return true;
}

// The bytes of a resource that lies in the image.
Status ReadResource(const PeImage& image, const ResourceData& data, std::vector<uint8_t>* bytes)
{
    if (data.source != nullptr || data.size > kMaxEditedResourceSize)
        return Status::Error(kErrorInvalidData, "a resource of " + std::to_string(data.size) + " bytes");
    bytes->resize(static_cast<size_t>(data.size));
    return image.ReadAt(data.imageOffset, bytes->data(), static_cast<uint32_t>(data.size));
}

// Reads type/name from image's tree; refused when the launcher lacks it.
Status ReadNeeded(const PeImage& image, const ResourceTree& tree, uint16_t type, uint16_t name, const char* what,
                  uint16_t* language, std::vector<uint8_t>* bytes)
{
    const ResourceData* data = nullptr;
    if (!FindResource(tree, type, name, language, &data))
        return Status::Error(kErrorInvalidData, std::string("the launcher has no ") + what);
    return ReadResource(image, *data, bytes).WithContext(std::string("the launcher's ") + what);
}

ByteView ViewOf(const std::vector<uint8_t>& bytes)
{
    return ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Status BrandVersion(const LauncherBranding& branding, VersionResource* version)
{
    const std::optional<VersionOption>& file = branding.fileVersion ? branding.fileVersion : branding.productVersion;
    Status status = Status::Ok();
    if (branding.productVersion) {
        version->SetProductVersion(branding.productVersion->number);
        status = version->SetString(u"ProductVersion", Utf16(branding.productVersion->text));
    }
    if (status && file) {
        version->SetFileVersion(file->number);
        status = version->SetString(u"FileVersion", Utf16(file->text));
    }
    if (status && file)
        status = version->SetString(u"OriginalFilename", Utf16(branding.originalFilename));
    const std::pair<const std::optional<std::string>*, const char16_t*> strings[] = {
        {&branding.productName, u"ProductName"},
        {&branding.company, u"CompanyName"},
        {&branding.description, u"FileDescription"},
        {&branding.copyright, u"LegalCopyright"},
    };
    for (const auto& string : strings) {
        if (status && *string.first)
            status = version->SetString(string.second, Utf16(**string.first));
    }
    return status;
}

// The program at path, its headers read, and its resource tree; failures with the path in front.
Status OpenProgram(const char* path, PeImage* image, ResourceTree* tree)
{
    Status status = PeImage::Open(path, image);
    if (status)
        status = ResourceTree::Read(*image, tree);
    return status ? status : status.WithContext(path);
}

bool HasVersionChange(const LauncherBranding& b)
{
    return b.productName || b.company || b.description || b.copyright || b.productVersion || b.fileVersion;
}

}  // namespace

Status ParseVersionOption(const char* option, const std::string& text, VersionOption* version)
{
    const auto refuse = [&](const std::string& why) {
        return Usage(std::string(option) + " '" + text + "': " + why +
                     " (a version is 1 to 4 numbers 0..65535 joined by dots)");
    };
    VersionOption parsed;
    uint32_t parts = 0;
    for (size_t at = 0;;) {
        const size_t dot = text.find('.', at);
        const std::string part = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
        if (parts == kMaxVersionParts)
            return refuse("more than four parts");
        if (part.empty())
            return refuse("an empty part");
        uint32_t value = 0;
        for (char c : part) {
            if (c < '0' || c > '9')
                return refuse("'" + part + "' is not a number");
            value = value * 10 + static_cast<uint32_t>(c - '0');
            if (value > 0xFFFF)
                return refuse("part " + part + " is above 65535");
        }
        parsed.number[parts++] = static_cast<uint16_t>(value);
        parsed.text += (parsed.text.empty() ? "" : ".") + std::to_string(value);
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    *version = std::move(parsed);
    return Status::Ok();
}

Status CheckUtf8Option(const char* option, const std::string& text)
{
    std::u16string units;
    if (!Utf8ToUtf16(text, &units))
        return Usage(std::string(option) + ": the text is not UTF-8");
    return Status::Ok();
}

Status CheckProgressText(const std::string& text)
{
    const Status utf8 = CheckUtf8Option("--progress-text", text);
    if (!utf8)
        return utf8;
    size_t characters = 0;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return Usage("--progress-text: the label is one line; it may not hold control characters");
        characters += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    if (characters > kMaxProgressTextLength)
        return Usage("--progress-text: " + std::to_string(characters) + " characters, more than the " +
                     std::to_string(kMaxProgressTextLength) + " the progress window shows on its one line");
    return Status::Ok();
}

bool LauncherBranding::Empty() const
{
    return !HasVersionChange(*this) && !executionLevel && !icon && iconPath.empty() && !progressText;
}

void BrandedResources::Put(ResourceTree* tree, uint16_t type, uint16_t name, uint16_t language,
                           std::vector<uint8_t> bytes)
{
    owned_.push_back(std::make_unique<Owned>());
    Owned& owned = *owned_.back();
    owned.bytes = std::move(bytes);
    owned.source = MemorySource(ViewOf(owned.bytes));
    tree->Replace(ResourceId::Number(type), ResourceId::Number(name), language, &owned.source);
}

Status BrandedResources::Apply(const PeImage& image, const LauncherBranding& branding, ResourceTree* tree)
{
    Status status = Status::Ok();
    if (HasVersionChange(branding))
        status = ApplyVersion(image, branding, tree);
    if (status && branding.icon)
        status = ApplyIcon(image, branding, tree);
    if (status && branding.progressText)
        status = ApplyLabel(image, *branding.progressText, tree);
    if (status && branding.executionLevel)
        status = ApplyLevel(image, *branding.executionLevel, tree);
    return status;
}

Status BrandedResources::ApplyVersion(const PeImage& image, const LauncherBranding& branding, ResourceTree* tree)
{
    uint16_t language = 0;
    std::vector<uint8_t> bytes;
    Status status =
        ReadNeeded(image, *tree, pe::kResourceTypeVersion, kVersionInfoId, "version block", &language, &bytes);
    VersionResource version;
    if (status)
        status = VersionResource::Parse(ViewOf(bytes), &version).WithContext("the launcher");
    if (status)
        status = BrandVersion(branding, &version);
    if (status)
        status = version.Encode(&bytes);
    if (status)
        Put(tree, pe::kResourceTypeVersion, kVersionInfoId, language, std::move(bytes));
    return status;
}

Status BrandedResources::ApplyIcon(const PeImage& image, const LauncherBranding& branding, ResourceTree* tree)
{
    uint16_t language = 0;
    std::vector<uint8_t> bytes;
    IconFile icon;
    std::vector<IconImageInfo> oldImages;
    std::vector<uint16_t> oldIds;
    Status status = IconFile::Parse(ViewOf(*branding.icon), &icon).WithContext(branding.iconPath);
    if (status)
        status = ReadNeeded(image, *tree, pe::kResourceTypeGroupIcon, IDR_MAINFRAME, "icon group", &language, &bytes);
    if (status)
        status = IconFile::ReadGroup(ViewOf(bytes), &oldImages, &oldIds).WithContext("the launcher");
    if (!status)
        return status;
    // The old group's images go; the new ones take the lowest ids no other icon uses.
    for (uint16_t id : oldIds)
        tree->Remove(ResourceId::Number(pe::kResourceTypeIcon), ResourceId::Number(id));
    std::set<uint16_t> used;
    const auto icons = tree->Types().find(ResourceId::Number(pe::kResourceTypeIcon));
    if (icons != tree->Types().end()) {
        for (const auto& name : icons->second.names)
            used.insert(name.first.IsName() ? 0 : name.first.Number());
    }
    std::vector<uint16_t> ids;
    for (uint16_t id = 1; id != 0 && ids.size() < icon.ImageCount(); ++id) {
        if (used.count(id) == 0)
            ids.push_back(id);
    }
    for (size_t i = 0; i < ids.size(); ++i)
        Put(tree, pe::kResourceTypeIcon, ids[i], language, icon.ImageBytes(i));
    Put(tree, pe::kResourceTypeGroupIcon, IDR_MAINFRAME, language, icon.GroupResource(ids));
    return Status::Ok();
}

Status BrandedResources::ApplyLabel(const PeImage& image, const std::string& text, ResourceTree* tree)
{
    uint16_t language = 0;
    std::vector<uint8_t> bytes;
    const uint16_t block = StringTableBlock::BlockOf(IDS_PROGRESS_LABEL);
    StringTableBlock strings;
    Status status =
        ReadNeeded(image, *tree, pe::kResourceTypeString, block, "progress label string", &language, &bytes);
    if (status)
        status = StringTableBlock::Parse(ViewOf(bytes), &strings).WithContext("the launcher");
    if (!status)
        return status;
    strings.SetString(StringTableBlock::IndexOf(IDS_PROGRESS_LABEL), Utf16(text));
    Put(tree, pe::kResourceTypeString, block, language, strings.Encode());
    return Status::Ok();
}

Status BrandedResources::ApplyLevel(const PeImage& image, ExecutionLevel level, ResourceTree* tree)
{
    uint16_t language = 0;
    std::vector<uint8_t> bytes;
    Status status =
        ReadNeeded(image, *tree, pe::kResourceTypeManifest, pe::kProgramManifestId, "manifest", &language, &bytes);
    std::string manifest(bytes.begin(), bytes.end());
    if (status)
        status = SetManifestExecutionLevel(&manifest, level).WithContext("the launcher");
    if (status)
        Put(tree, pe::kResourceTypeManifest, pe::kProgramManifestId, language,
            std::vector<uint8_t>(manifest.begin(), manifest.end()));
    return status;
}

Status CheckLauncherBranding(const char* launcherPath, const LauncherBranding& branding)
{
    PeImage image;
    ResourceTree tree;
    const Status status = OpenProgram(launcherPath, &image, &tree);
    if (!status)
        return status;
    BrandedResources branded;
    return branded.Apply(image, branding, &tree).WithContext(launcherPath);
}

Status ReadProgramManifest(const PeImage& image, std::string* manifest)
{
    ResourceTree tree;
    Status status = ResourceTree::Read(image, &tree);
    uint16_t language = 0;
    const ResourceData* data = nullptr;
    manifest->clear();
    if (!status || !FindResource(tree, pe::kResourceTypeManifest, pe::kProgramManifestId, &language, &data))
        return status;
    std::vector<uint8_t> bytes;
    status = ReadResource(image, *data, &bytes);
    if (status)
        manifest->assign(bytes.begin(), bytes.end());
    return status;
}

Status ReadLauncherIdentity(const char* path, LauncherIdentity* identity)
{
    PeImage image;
    ResourceTree tree;
    const Status status = OpenProgram(path, &image, &tree);
    if (!status)
        return status;
    LauncherIdentity result;
    uint16_t language = 0;
    const ResourceData* data = nullptr;
    std::vector<uint8_t> bytes;
    VersionResource version;
    if (FindResource(tree, pe::kResourceTypeVersion, kVersionInfoId, &language, &data) && ReadResource(image, *data, &bytes) &&
        VersionResource::Parse(ViewOf(bytes), &version)) {
        for (const auto& string : version.Strings())
            result.strings.emplace_back(Utf16ToUtf8(string.first), Utf16ToUtf8(string.second));
        result.fileVersion = VersionNumberText(version.FileVersion());
        result.productVersion = VersionNumberText(version.ProductVersion());
    }
    std::string manifest;
    ExecutionLevel level = ExecutionLevel::kRequireAdministrator;
    if (ReadProgramManifest(image, &manifest) && ReadManifestExecutionLevel(manifest, &level))
        result.executionLevel = ExecutionLevelName(level);
    std::vector<IconImageInfo> images;
    std::vector<uint16_t> ids;
    if (FindResource(tree, pe::kResourceTypeGroupIcon, IDR_MAINFRAME, &language, &data) &&
        ReadResource(image, *data, &bytes) && IconFile::ReadGroup(ViewOf(bytes), &images, &ids)) {
        for (const IconImageInfo& info : images)
            result.iconSizes.push_back(std::to_string(info.width == 0 ? 256 : info.width) + "x" +
                                       std::to_string(info.height == 0 ? 256 : info.height));
    }
    StringTableBlock strings;
    if (FindResource(tree, pe::kResourceTypeString, StringTableBlock::BlockOf(IDS_PROGRESS_LABEL), &language,
                     &data) &&
        ReadResource(image, *data, &bytes) && StringTableBlock::Parse(ViewOf(bytes), &strings))
        result.progressText = Utf16ToUtf8(strings.String(StringTableBlock::IndexOf(IDS_PROGRESS_LABEL)));
    *identity = std::move(result);
    return Status::Ok();
}
