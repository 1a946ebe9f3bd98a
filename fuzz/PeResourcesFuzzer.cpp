// Fuzz target: arbitrary bytes read as a program image, stamped with two resources, and read back.
//
// Checks: whatever the reader accepts, the writer either refuses with a format
// or size error or writes an image that reads back with exactly the resources
// it was given (every kept one byte for byte, and the two new ones) and with a
// correct checksum; stamping that output again in place gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "PeChecksum.h"
#include "MemorySink.h"
#include "PeFormat.h"
#include "PeImage.h"
#include "PeResourceWriter.h"
#include "ResourceTree.h"
#include "SystemApi.h"

namespace {

// Stops the run with the broken property named.
#define REQUIRE(condition) Require((condition), #condition)

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "pe_resources_fuzzer: broken: %s\n", what);
        std::abort();
    }
}

// "type/name/language/codepage" -> bytes, from the image or the sources.
std::map<std::string, std::string> Contents(const PeImage& image, const ResourceTree& tree)
{
    std::map<std::string, std::string> all;
    for (const auto& type : tree.Types()) {
        for (const auto& name : type.second.names) {
            for (const auto& language : name.second.languages) {
                const ResourceData& data = language.second;
                std::string bytes(static_cast<size_t>(data.size), '\0');
                if (data.source != nullptr) {
                    REQUIRE(data.source->Read(0, reinterpret_cast<uint8_t*>(&bytes[0]), static_cast<uint32_t>(data.size)).IsOk());
                } else {
                    const uint8_t* p = nullptr;
                    REQUIRE(image.Bytes().Bytes(data.imageOffset, static_cast<uint32_t>(data.size), &p));
                    bytes.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(data.size));
                }
                all[type.first.Describe() + "/" + name.first.Describe() + "/" + std::to_string(language.first) + "/" +
                    std::to_string(data.codePage)] = bytes;
            }
        }
    }
    return all;
}

Status Stamp(const PeImage& image, ResourceTree tree, ResourceSource* package, ResourceSource* ini,
             ResourceTree* stamped, MemorySink* sink, PeWriteSummary* summary)
{
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 0, package);
    tree.Replace(ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("LANGUAGE_INI"), 0, ini);
    PeResourceWriter writer;
    Status s = PeResourceWriter::Prepare(image, tree, &writer);
    if (!s) {
        REQUIRE(s.Code() == kErrorBadExeFormat || s.Code() == kErrorFileTooLarge ||
                s.Code() == kErrorInvalidParameter);
        return s;
    }
    // Duplicated data can make a small input into a large output; that is not this target's subject.
    if (writer.Summary().outputSize > (16u << 20))
        return Status::Error(kErrorFileTooLarge);
    REQUIRE(writer.Write(*sink).IsOk());
    REQUIRE(sink->Bytes().size() == writer.Summary().outputSize);
    *summary = writer.Summary();
    *stamped = std::move(tree);
    return Status::Ok();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    PeImage image;
    if (!PeImage::Parse(std::vector<uint8_t>(data, data + size), &image))
        return 0;
    ResourceTree tree;
    if (!ResourceTree::Read(image, &tree))
        return 0;

    const uint32_t packageSize = static_cast<uint32_t>(size / 3);
    MemorySource package(ByteView(data, packageSize));
    static const uint8_t kIni[] = "[LANGUAGE]\r\nUseDefault =1\r\n";
    MemorySource ini(ByteView(kIni, sizeof kIni - 1));
    ResourceTree stamped;
    MemorySink sink;
    PeWriteSummary summary;
    if (!Stamp(image, tree, &package, &ini, &stamped, &sink, &summary))
        return 0;

    PeImage output;
    REQUIRE(PeImage::Parse(sink.Bytes(), &output).IsOk());
    ResourceTree reread;
    REQUIRE(ResourceTree::Read(output, &reread).IsOk());
    REQUIRE(Contents(output, reread) == Contents(image, stamped));
    const uint32_t checksumField = output.OptionalHeaderOffset() + pe::kOptCheckSum;
    uint32_t stored = 0;
    REQUIRE(output.Bytes().ReadU32(checksumField, &stored));
    std::vector<uint8_t> zeroed = sink.Bytes();
    for (uint32_t i = 0; i < 4; ++i)
        zeroed[checksumField + i] = 0;
    PeChecksum checksum;
    checksum.Add(zeroed.data(), static_cast<uint32_t>(zeroed.size()));
    REQUIRE(checksum.Value() == stored);
    REQUIRE(output.Directory(pe::kCertificateDirectoryIndex).size == 0);

    ResourceTree again;
    MemorySink second;
    PeWriteSummary secondSummary;
    // A second stamp may be refused or need yet another section when a damaged
    // directory of the input points where the first one put the resources.
    if (Stamp(output, reread, &package, &ini, &again, &second, &secondSummary) && !secondSummary.newSection)
        REQUIRE(second.Bytes() == sink.Bytes());
    return 0;
}
