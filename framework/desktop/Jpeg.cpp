#include "framework/desktop/Jpeg.h"

#include "framework/core/Error.h"

#include <csetjmp>
#include <cstdio>
// clang-format off: jpeglib.h needs the types of cstdio first
#include <jerror.h>
#include <jpeglib.h>
// clang-format on

namespace fw {
namespace {

// Pictures above this many bytes decoded are refused, as Qt's own readers do.
constexpr qint64 largestPicture = 256LL * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void jpegFailed(j_common_ptr info) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, err->message);
    std::longjmp(err->jump, 1);
}

// A picture cut short is refused like one that is no picture; the warnings
// about damage that the decoder steps over (extraneous bytes, a corrupt
// segment) are not.
extern "C" void jpegMessage(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        jpegFailed(info);
}

// Adobe's CMYK, stored inverted, to RGB32 in place.
void cmykToRgb(uchar* row, JDIMENSION width) {
    auto* out = reinterpret_cast<QRgb*>(row);
    for (JDIMENSION x = 0; x < width; ++x) {
        const uchar* p = row + 4 * x;
        const int k = p[3];
        out[x] = qRgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
    }
}

// The decoding between setjmp and the longjmp of an error: no object with a
// destructor lives in this frame, everything is reached through pointers.
// False with err->message set when it failed.
bool decodeInto(jpeg_decompress_struct* info, ErrorManager* err, const QByteArray* bytes,
                QImage* image) {
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(info);
        return false;
    }
    jpeg_create_decompress(info);
    jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(bytes->constData()),
                 static_cast<unsigned long>(bytes->size()));
    jpeg_read_header(info, TRUE);
    const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    const bool grey = info->jpeg_color_space == JCS_GRAYSCALE;
    info->out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_RGB;
    // Before the decoder takes memory for it.
    if (qint64(info->image_width) * info->image_height * 4 > largestPicture) {
        std::snprintf(err->message, sizeof err->message, "Picture too large: %u x %u pixels",
                      info->image_width, info->image_height);
        jpeg_destroy_decompress(info);
        return false;
    }
    jpeg_start_decompress(info);

    const QImage::Format format = cmyk   ? QImage::Format_RGB32
                                  : grey ? QImage::Format_Grayscale8
                                         : QImage::Format_RGB888;
    *image = QImage(int(info->output_width), int(info->output_height), format);
    if (image->isNull()) {
        std::snprintf(err->message, sizeof err->message, "Out of memory for the picture");
        jpeg_destroy_decompress(info);
        return false;
    }
    while (info->output_scanline < info->output_height) {
        uchar* line = image->scanLine(int(info->output_scanline));
        JSAMPROW row = line;
        jpeg_read_scanlines(info, &row, 1);
        if (cmyk)
            cmykToRgb(line, info->output_width);
    }
    jpeg_finish_decompress(info);
    jpeg_destroy_decompress(info);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray& bytes) {
    jpeg_decompress_struct info;
    ErrorManager err;
    info.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jpegFailed;
    err.pub.emit_message = jpegMessage;
    err.message[0] = '\0';
    QImage image;
    if (!decodeInto(&info, &err, &bytes, &image))
        throw Error(QString::fromLatin1(err.message));
    return image;
}

} // namespace fw
