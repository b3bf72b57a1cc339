// Placeholder until this format's handler lands.
#include "formats/formats.h"

uint32_t StkHandler(uint8_t*, uint32_t) { return 0; }
