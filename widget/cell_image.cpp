#include "widget/cell_image.h"

namespace scopa {

QImage ImageFromDib(const oDIB& dib) {
    if (dib.IsEmpty()) return {};
    if (dib.BitCount() == 24) {
        QImage view(dib.Bits().data(), dib.Width(), dib.Height(), qsizetype(dib.Stride()),
                    QImage::Format_BGR888);
        return view.copy();
    }
    QImage image(dib.Width(), dib.Height(), QImage::Format_RGB32);
    for (int y = 0; y < dib.Height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < dib.Width(); ++x) {
            Rgb colour = dib.PixelColour(x, y);
            row[x] = qRgb(colour.red, colour.green, colour.blue);
        }
    }
    return image;
}

}  // namespace scopa
