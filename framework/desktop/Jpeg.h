#pragma once

#include <QByteArray>
#include <QImage>

namespace fw {

// Decodes the bytes of a JPEG file with libjpeg. Bytes that are not a JPEG
// picture raise fw::Error with libjpeg's own message ("Not a JPEG file:
// starts with 0x89 0x50", "Empty input file"); so does a picture whose data
// ends early ("Premature end of JPEG file"), which is never shown in part.
// Grey pictures come as Grayscale8, colour ones as RGB888 or RGB32.
QImage decodeJpeg(const QByteArray& bytes);

} // namespace fw
