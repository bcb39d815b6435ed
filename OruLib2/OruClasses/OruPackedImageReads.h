#pragma once
// Packed images (the "ZMGF" container) read from a show's files keep
// polling the load callback: the copied pixel data and the inflated bitmap
// are read through a window that takes over the read callback of the entry
// stream the picture came from.
#include "ZmLib/zmStream.h"

namespace oru {

// The graphics library's read-transform handler: when Source is a partial
// stream with a read callback, a new partial stream over all of Data (with a
// reference of its own) calling the same callback in blocks of the same
// size; nil otherwise.
zm::TRef<zm::TStream> PackedImageReadTransform(zm::TStream* source, zm::TStream* data);

// Installed with the container units; the previous handler is restored.
void InitPackedImageReads();
void FiniPackedImageReads();

}  // namespace oru
