// Pixels of the core's bitmaps as Qt images.
#pragma once

#include <QImage>

#include "imaging/dib.h"

namespace scopa {

// A copy of a 24-bit bitmap (rows top first, blue-green-red); other depths convert through
// their colours. An empty bitmap gives a null image.
QImage ImageFromDib(const oDIB& dib);

}  // namespace scopa
