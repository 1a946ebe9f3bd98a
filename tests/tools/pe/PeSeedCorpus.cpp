// Writes the seed images of the PE fuzz target (fuzz/corpus/pe/): pe_seed_corpus DIR.
#include <cstdio>
#include <string>

#include "PeTestImage.h"

using namespace petest;

namespace {

bool Save(const std::string& path, ImageLayout shape)
{
    // Small alignments keep the seeds a few hundred bytes each.
    shape.fileAlignment = 0x40;
    shape.sizeOfHeaders = 0x240;
    const Image image = BuildImage(shape);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(image.bytes.data(), 1, image.bytes.size(), f) == image.bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pe_seed_corpus DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<Resource> stamped = LauncherResources();
    stamped.push_back({ResourceId::AsciiName("OEMDATA"), ResourceId::AsciiName("DEFAULT"), 1033, "BOEM old"});
    ImageLayout last = LauncherLike(LauncherResources(), false);
    last.overlay = "symbols";
    last.symbolsAt = 0;
    ImageLayout middle = LauncherLike(stamped, true);
    ImageLayout signedOne = LauncherLike({{ResourceId::Number(16), ResourceId::Number(1), 0x409, "version"}}, false);
    signedOne.certificate = std::string("\x10\0\0\0\0\x02\x02\0", 8) + "sig";
    ImageLayout plus = LauncherLike({{ResourceId::Number(24), ResourceId::Number(1), 0, "<assembly/>"}}, false);
    plus.pe32Plus = true;
    const bool ok = Save(dir + "/rsrc_last.exe", last) && Save(dir + "/rsrc_before_reloc.exe", middle) &&
                    Save(dir + "/signed.exe", signedOne) && Save(dir + "/pe32plus.exe", plus);
    return ok ? 0 : 1;
}
