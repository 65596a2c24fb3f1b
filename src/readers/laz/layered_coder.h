#ifndef VORLIN_READERS_LAZ_LAYERED_CODER_H
#define VORLIN_READERS_LAZ_LAYERED_CODER_H

// The entropy coder the layered items build on.

#include "readers/laz/arithmetic_decoder.h"
#include "readers/laz/arithmetic_encoder.h"
#include "readers/laz/arithmetic_model.h"
#include "readers/laz/integer_compressor.h"

#endif
