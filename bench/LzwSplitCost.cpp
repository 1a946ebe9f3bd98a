// Prints the LZW stream length of a file coded whole and split at a piece size: what the forced clears cost.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "LzwCodec.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: lzw_split_cost FILE PIECE_BYTES\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<uint8_t> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const uint32_t piece = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    std::vector<uint8_t> whole, split;
    LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &whole);
    LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &split, piece);
    std::printf("%zu %zu %zu\n", input.size(), whole.size(), split.size());
    return 0;
}
