#ifndef VORLIN_FORMAT_LITTLE_ENDIAN_H
#define VORLIN_FORMAT_LITTLE_ENDIAN_H

// The helpers live below every layer that reads or writes binary fields;
// this name stays for the tools that include it.
#include "base/little_endian.h"

#endif
