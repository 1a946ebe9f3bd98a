// The LZW codec of compressed container entries: stream, encoder, decoder, split streams.
#pragma once

#include "LzwBitJoiner.h"
#include "LzwDecoder.h"
#include "LzwEncoder.h"
#include "LzwPieces.h"
#include "LzwStream.h"
