#pragma once

#include <QByteArray>

#include <vector>

namespace tarv {

// The modules of a QR code (medium error correction), row by row; size 0 when the text does not fit.
struct QrMatrix
{
    int size = 0;
    std::vector<bool> dark;

    bool isDark(int x, int y) const { return dark[static_cast<size_t>(y) * size + x]; }
};

QrMatrix encodeQr(const QByteArray& text);

} // namespace tarv
