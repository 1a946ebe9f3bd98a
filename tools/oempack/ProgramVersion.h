// The file version of a Windows program, read portably from its version resource.
#pragma once

#include <string>

#include "ByteView.h"

// The file version in the fixed part of a version block (VS_VERSIONINFO):
// "a.b.c.d" from its most and least significant words; empty when the block
// is not one (wrong key, no fixed part, wrong signature) or is cut short.
std::string FileVersionOfBlock(const ByteView& block);

// The file version of the program at path, from its first version resource
// (type 16); empty when it has none, or it cannot be read as a program.
std::string ReadProgramFileVersion(const std::string& path);
