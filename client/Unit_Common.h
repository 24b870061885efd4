#pragma once

#include <QString>

namespace fw {
class Field;
class Image;
} // namespace fw

namespace client {

// Shows the JPEG picture of a blob field of the current row in a picture
// control, or clears the control when the field holds none. The bytes are
// always read as JPEG: anything else raises the decoder's error, and the
// control keeps what it showed.
void ShowBlobImage(const fw::Field& Field, fw::Image* Image);

// The work folder made ready for the practical tasks at the exam start: the
// template archive (the blob ExamFolder of the current 操作题 row) written to
// the root of the work folder's drive and unpacked there by the archiver; it
// returns when the archiver has ended.
void UnpackTemplate(const fw::Field& ExamFolder, const QString& WorkDir);

} // namespace client
