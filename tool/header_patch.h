// Bringing a header's bounding box up to date after the records moved.
// A pure function over the 227-byte header image.
#pragma once

#include "transform.h"

#include <cstdint>

namespace tessvane {

// Patches MinX..MaxZ of `header` for records moved by `motion`:
//  - with no rotation, the X and Y bounds shift by their non-zero translations;
//  - the Z bounds shift by a non-zero Z translation, whatever the angle;
//  - with a rotation, the X and Y bounds become the extremes of the stored
//    values written (scale * stored + offset), or stay as they were when no
//    record was written.
// No other byte changes.
void patch_bounds(std::uint8_t *header, const Motion &motion, const StoredExtremes &written);

}  // namespace tessvane
