// The launcher stamping on program images built from bytes, natively under the sanitizers: every resource read back, restamps, refusals.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Crc32c.h"
#include "LauncherStamp.h"
#include "PeImage.h"
#include "PeTestImage.h"
#include "ResourceSource.h"
#include "ResourceTree.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

using Key = std::tuple<std::string, std::string, uint16_t>;

// Every resource of the program at path with its bytes, read with the checked reader.
std::map<Key, std::string> ResourcesOf(const std::string& path)
{
    std::map<Key, std::string> all;
    PeImage image;
    ResourceTree tree;
    Status s = PeImage::Load(path.c_str(), &image);
    if (s)
        s = ResourceTree::Read(image, &tree);
    EXPECT_TRUE(s) << s.Message();
    if (!s)
        return all;
    for (const auto& type : tree.Types())
        for (const auto& name : type.second.names)
            for (const auto& language : name.second.languages) {
                const uint8_t* bytes = nullptr;
                const uint32_t size = static_cast<uint32_t>(language.second.size);
                EXPECT_TRUE(image.Bytes().Bytes(language.second.imageOffset, size, &bytes));
                all[Key{type.first.Describe(), name.first.Describe(), language.first}] =
                    bytes ? std::string(reinterpret_cast<const char*>(bytes), size) : "<outside>";
            }
    return all;
}

std::string SaveImage(const ScratchFolder& dir, const std::string& leaf, const petest::ImageLayout& shape)
{
    const petest::Image image = petest::BuildImage(shape);
    const std::string path = dir / leaf;
    EXPECT_TRUE(WriteBytes(path, std::string(image.bytes.begin(), image.bytes.end())));
    return path;
}

// The checksum record the stamp must write for package, laid out by hand.
std::string ChecksumRecord(const std::string& package)
{
    std::string record = "C32C";
    const uint64_t size = package.size();
    const uint32_t crc = Crc32c(package.data(), package.size());
    for (int i = 0; i < 4; ++i)
        record += static_cast<char>(crc >> (8 * i));
    for (int i = 0; i < 8; ++i)
        record += static_cast<char>(size >> (8 * i));
    return record;
}

int Stamp(const std::string& launcher, const std::string& output, const std::string& package,
          const std::string* ini)
{
    return StampLauncher(launcher.c_str(), output.c_str(), package.data(), static_cast<uint32_t>(package.size()),
                         ini ? ini->data() : nullptr, ini ? static_cast<uint32_t>(ini->size()) : 0);
}

}  // namespace

TEST(LauncherStampHost, KeepsEveryResourceReplacesOldVersionsAndRestampsToTheSameBytes)
{
    ScratchFolder dir;
    // The launcher's own resources and an old package under another language,
    // with a section after the resources (so they move to a new section).
    std::vector<petest::Resource> resources = petest::LauncherResources();
    resources.push_back({ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 1033, "old package"});
    resources.push_back({ResourceId::AsciiName("oemdata"), ResourceId::AsciiName("language_ini"), 2052, "old ini"});
    resources.push_back({ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("CHECKSUM"), 1033, "old checksum"});
    const std::string launcher = SaveImage(dir, "launcher.exe", petest::LauncherLike(resources, true));
    const std::map<Key, std::string> before = ResourcesOf(launcher);

    const std::string package = PatternBytes(150001, 3);
    const std::string ini(kDefaultLanguageIni, kDefaultLanguageIniSize);
    SetLastErrorValue(0xdeadbeef);
    ASSERT_EQ(Stamp(launcher, dir / "Setup.exe", package, &ini), 1);
    EXPECT_EQ(GetLastErrorValue(), 0u);

    std::map<Key, std::string> expected;
    for (const auto& r : before)
        if (std::get<0>(r.first) != "OEMDATA" && std::get<0>(r.first) != "oemdata")
            expected.insert(r);
    ASSERT_EQ(expected.size(), before.size() - 3);
    expected[Key{"OEMDATA", "DEFAULT", 0}] = package;
    expected[Key{"OEMDATA", "LANGUAGE_INI", 0}] = ini;
    expected[Key{"OEMDATA", "CHECKSUM", 0}] = ChecksumRecord(package);
    EXPECT_EQ(ResourcesOf(dir / "Setup.exe"), expected);

    // Restamping the stamped copy with the same bytes changes nothing; without
    // language settings it drops them.
    ASSERT_EQ(Stamp(dir / "Setup.exe", dir / "Again.exe", package, &ini), 1);
    EXPECT_EQ(ReadBytes(dir / "Again.exe"), ReadBytes(dir / "Setup.exe"));
    ASSERT_EQ(Stamp(dir / "Setup.exe", dir / "NoIni.exe", package, nullptr), 1);
    expected.erase(Key{"OEMDATA", "LANGUAGE_INI", 0});
    EXPECT_EQ(ResourcesOf(dir / "NoIni.exe"), expected);
    // Another package brings its own checksum record; the old one is gone.
    const std::string other = PatternBytes(150001, 4);
    ASSERT_EQ(Stamp(dir / "Setup.exe", dir / "Other.exe", other, nullptr), 1);
    expected[Key{"OEMDATA", "DEFAULT", 0}] = other;
    expected[Key{"OEMDATA", "CHECKSUM", 0}] = ChecksumRecord(other);
    EXPECT_NE(ChecksumRecord(other), ChecksumRecord(package));
    EXPECT_EQ(ResourcesOf(dir / "Other.exe"), expected);
    EXPECT_EQ(ListFolder(dir.Path()),
              (std::vector<std::string>{"Again.exe", "NoIni.exe", "Other.exe", "Setup.exe", "launcher.exe"}));
}

TEST(LauncherStampHost, ALauncherWithoutPackageGainsOneAndASignedOneLosesItsSignature)
{
    ScratchFolder dir;
    petest::ImageLayout shape = petest::LauncherLike(petest::LauncherResources(), false);
    shape.certificate = std::string("\x10\0\0\0\0\x02\x02\0", 8) + "signature";
    const std::string launcher = SaveImage(dir, "signed.exe", shape);
    const std::string package = PatternBytes(4096, 8);
    StampReport report;
    const Status s = StampLauncherFile(launcher.c_str(), (dir / "Setup.exe").c_str(), package.data(),
                                       static_cast<uint32_t>(package.size()), nullptr, 0, &report);
    ASSERT_TRUE(s) << s.Message();
    EXPECT_EQ(report.droppedCertificateSize, 8u + 9u);  // WIN_CERTIFICATE header and the signature
    PeImage stamped;
    ASSERT_TRUE(PeImage::Load((dir / "Setup.exe").c_str(), &stamped));
    EXPECT_EQ(stamped.Directory(4).size, 0u);
    EXPECT_EQ(ResourcesOf(dir / "Setup.exe")[(Key{"OEMDATA", "DEFAULT", 0})], package);
}

TEST(LauncherStampHost, RefusalsSetTheirCodeAndLeaveNothingBehind)
{
    ScratchFolder dir;
    const std::string launcher = SaveImage(dir, "launcher.exe", petest::LauncherLike(petest::LauncherResources(), true));
    const std::string full = ReadBytes(launcher);
    ASSERT_TRUE(WriteBytes(dir / "text.exe", "MZ but not a program at all" + std::string(100, 'x')));
    ASSERT_TRUE(WriteBytes(dir / "cut.exe", full.substr(0, full.size() / 2)));
    ASSERT_TRUE(WriteBytes(dir / "Setup.exe", "old"));
    const std::string package = PatternBytes(2048, 4);
    const std::string out = dir / "Setup.exe";

    struct Case {
        std::string launcher, output;
        uint32_t code;
    };
    for (const Case& c : {Case{dir / "text.exe", out, kErrorBadExeFormat}, Case{dir / "cut.exe", out, kErrorBadExeFormat},
                          Case{dir / "missing.exe", out, kErrorFileNotFound},
                          Case{launcher, dir / "absent/Setup.exe", kErrorPathNotFound},
                          Case{launcher, dir / std::string(kMaxPath, 'p'), kErrorFilenameExcedRange},
                          Case{launcher, "", kErrorInvalidParameter}}) {
        SetLastErrorValue(0xdeadbeef);
        EXPECT_EQ(Stamp(c.launcher, c.output, package, nullptr), 0) << c.launcher;
        EXPECT_EQ(GetLastErrorValue(), c.code) << c.launcher << " -> " << c.output;
    }
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(StampLauncher(launcher.c_str(), out.c_str(), nullptr, 10, nullptr, 0), 0);
    EXPECT_EQ(GetLastErrorValue(), kErrorInvalidParameter);
    // The old output untouched, no temporary file.
    EXPECT_EQ(ReadBytes(out), "old");
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"Setup.exe", "cut.exe", "launcher.exe", "text.exe"}));
}

namespace {

// A package that only claims its size: reading it is a failure of the test.
class ClaimedSizeSource : public ResourceSource {
public:
    explicit ClaimedSizeSource(uint64_t size) : size_(size) {}
    uint64_t Size() const override { return size_; }
    Status Read(uint64_t, uint8_t*, uint32_t) override
    {
        read_ = true;
        return Status::Error(kErrorInvalidParameter, "read");
    }
    bool read_ = false;

private:
    uint64_t size_;
};

}  // namespace

TEST(LauncherStampHost, APackageTooLargeForTheLaunchersArchitectureOrAFolderAsOutputIsRefusedBeforeWriting)
{
    ScratchFolder dir;
    const std::string launcher = SaveImage(dir, "launcher.exe", petest::LauncherLike(petest::LauncherResources(), true));
    petest::ImageLayout plus = petest::LauncherLike(petest::LauncherResources(), true);
    plus.pe32Plus = true;
    const std::string launcher64 = SaveImage(dir, "launcher64.exe", plus);
    ClaimedSizeSource huge(kMaxLaunchablePackageSizeX86 + 1);
    Status s = StampLauncherFromSource(launcher.c_str(), (dir / "Setup.exe").c_str(), huge, nullptr, 0, nullptr);
    EXPECT_EQ(s.Code(), kErrorFileTooLarge);
    EXPECT_EQ(s.Message(),
              "the package is 1879048193 bytes; the x86 launcher loads packages of at most 1879048192 bytes");
    EXPECT_FALSE(huge.read_);

    // At the limit the size is no reason to refuse: the stamp goes on and fails reading the source.
    ClaimedSizeSource largest(kMaxLaunchablePackageSizeX86);
    s = StampLauncherFromSource(launcher.c_str(), (dir / "Setup.exe").c_str(), largest, nullptr, 0, nullptr);
    EXPECT_EQ(s.Code(), kErrorInvalidParameter);
    EXPECT_TRUE(largest.read_);

    // The x64 launcher takes what the x86 one refuses, up to its own limit.
    StampReport report;
    s = StampLauncherFromSource(launcher64.c_str(), (dir / "Setup.exe").c_str(), huge, nullptr, 0, &report);
    EXPECT_EQ(s.Code(), kErrorInvalidParameter);
    EXPECT_TRUE(huge.read_);
    EXPECT_EQ(report.architecture, LauncherArchitecture::kX64);
    ClaimedSizeSource beyond(kMaxLaunchablePackageSizeX64 + 1);
    s = StampLauncherFromSource(launcher64.c_str(), (dir / "Setup.exe").c_str(), beyond, nullptr, 0, nullptr);
    EXPECT_EQ(s.Code(), kErrorFileTooLarge);
    EXPECT_EQ(s.Message(),
              "the package is 4290772993 bytes; the x64 launcher loads packages of at most 4290772992 bytes");
    EXPECT_FALSE(beyond.read_);

    ASSERT_TRUE(CreateFolder((dir / "folder").c_str()));
    const std::string package = PatternBytes(2048, 4);
    SetLastErrorValue(0);
    EXPECT_EQ(Stamp(launcher, dir / "folder", package, nullptr), 0);
    EXPECT_EQ(GetLastErrorValue(), kErrorAccessDenied);
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"folder", "launcher.exe", "launcher64.exe"}));
    EXPECT_TRUE(ListFolder(dir / "folder").empty());
}

TEST(LauncherStampHost, TheArchitectureComesFromTheMachineFieldAndOnlyX86AndX64AreLaunchers)
{
    ScratchFolder dir;
    const std::string package = PatternBytes(4096, 5);
    struct Case {
        bool pe32Plus;
        uint16_t machine;
        LauncherArchitecture architecture;
    };
    // The machine decides, not the optional header's kind.
    for (const Case& c : {Case{false, 0x14C, LauncherArchitecture::kX86}, Case{true, 0x8664, LauncherArchitecture::kX64},
                          Case{false, 0x8664, LauncherArchitecture::kX64}}) {
        petest::ImageLayout shape = petest::LauncherLike(petest::LauncherResources(), false);
        shape.pe32Plus = c.pe32Plus;
        shape.machine = c.machine;
        const std::string launcher = SaveImage(dir, "launcher.exe", shape);
        LauncherArchitecture read = LauncherArchitecture::kX86;
        const Status s = ReadLauncherArchitecture(launcher.c_str(), &read);
        ASSERT_TRUE(s) << s.Message();
        EXPECT_EQ(read, c.architecture) << c.machine;
        StampReport report;
        ASSERT_TRUE(StampLauncherFile(launcher.c_str(), (dir / "Setup.exe").c_str(), package.data(),
                                      static_cast<uint32_t>(package.size()), nullptr, 0, &report));
        EXPECT_EQ(report.architecture, c.architecture);
        EXPECT_EQ(ResourcesOf(dir / "Setup.exe")[(Key{"OEMDATA", "DEFAULT", 0})], package);
        PeImage stamped;
        ASSERT_TRUE(PeImage::Load((dir / "Setup.exe").c_str(), &stamped));
        EXPECT_EQ(stamped.Machine(), c.machine);
        EXPECT_EQ(stamped.IsPe32Plus(), c.pe32Plus);
    }
    EXPECT_EQ(MachineName(0x14C), "x86");
    EXPECT_EQ(MachineName(0x8664), "x64");
    EXPECT_EQ(MachineName(0xAA64), "0xAA64");

    // An ARM64 program is no launcher: refused before anything is written.
    petest::ImageLayout arm = petest::LauncherLike(petest::LauncherResources(), false);
    arm.pe32Plus = true;
    arm.machine = 0xAA64;
    const std::string launcher = SaveImage(dir, "arm64.exe", arm);
    LauncherArchitecture read = LauncherArchitecture::kX86;
    Status s = ReadLauncherArchitecture(launcher.c_str(), &read);
    EXPECT_EQ(s.Code(), kErrorExeMachineTypeMismatch);
    EXPECT_EQ(s.Message(), launcher + ": a program for machine 0xAA64, neither x86 (0x14C) nor x64 (0x8664)");
    SetLastErrorValue(0);
    EXPECT_EQ(Stamp(launcher, dir / "Arm.exe", package, nullptr), 0);
    EXPECT_EQ(GetLastErrorValue(), kErrorExeMachineTypeMismatch);
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"Setup.exe", "arm64.exe", "launcher.exe"}));
}
