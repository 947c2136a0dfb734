#include "web/qrcode.h"

#include <qrencode.h>

#include <memory>

namespace tarv {

QrMatrix encodeQr(const QByteArray& text)
{
    if (text.isEmpty())
        return {};
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code)
        return {};
    QrMatrix out;
    out.size = code->width;
    out.dark.resize(static_cast<size_t>(code->width) * code->width);
    for (size_t i = 0; i < out.dark.size(); ++i)
        out.dark[i] = code->data[i] & 1;
    return out;
}

} // namespace tarv
