// Test tool: writes OEMDATA/DEFAULT and OEMDATA/LANGUAGE_INI into a copy of a program with the PE resource writer.
//
//   pe_stamp_tool LAUNCHER OUTPUT PACKAGE [LANGUAGE_INI]
//
// Without LANGUAGE_INI the copy has none. Exit status 0, or 1 with the reason on stderr.
#include <cstdio>

#include "FileRangeSource.h"
#include "FileSink.h"
#include "PeImage.h"
#include "PeResourceWriter.h"
#include "ResourceTree.h"

namespace {

int Fail(const Status& s)
{
    std::fprintf(stderr, "pe_stamp_tool: %s (error %u)\n", s.Message().c_str(), static_cast<unsigned>(s.Code()));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: pe_stamp_tool LAUNCHER OUTPUT PACKAGE [LANGUAGE_INI]\n");
        return 2;
    }
    PeImage image;
    Status s = PeImage::Load(argv[1], &image);
    ResourceTree tree;
    if (s)
        s = ResourceTree::Read(image, &tree).WithContext(argv[1]);
    FileRangeSource package, language;
    if (s)
        s = package.Open(argv[3]);
    if (s && argc == 5)
        s = language.Open(argv[4]);
    if (!s)
        return Fail(s);
    const ResourceId type = ResourceId::AsciiName("OEMDATA");
    tree.Replace(type, ResourceId::AsciiName("DEFAULT"), 0, &package);
    if (argc == 5)
        tree.Replace(type, ResourceId::AsciiName("LANGUAGE_INI"), 0, &language);
    else
        tree.Remove(type, ResourceId::AsciiName("LANGUAGE_INI"));

    PeResourceWriter writer;
    s = PeResourceWriter::Prepare(image, tree, &writer);
    FileSink sink;
    if (s)
        s = sink.Create(argv[2]);
    if (s)
        s = writer.Write(sink);
    if (s)
        s = sink.Finish();
    if (!s)
        return Fail(s);
    const PeWriteSummary& summary = writer.Summary();
    std::printf("wrote %s: %llu bytes, resources at RVA 0x%X (%u bytes)%s\n", argv[2],
                static_cast<unsigned long long>(summary.outputSize), summary.resourceRva, summary.resourceSize,
                summary.newSection ? " in a new last section" : "");
    if (summary.droppedCertificateSize != 0)
        std::printf("the launcher was signed: its signature (%u bytes) was dropped; sign the stamped program\n",
                    summary.droppedCertificateSize);
    return 0;
}
