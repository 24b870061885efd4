// The JPEG decoder and the picture control: pictures as they decode, the
// decoder's errors for bytes that are not a whole JPEG, and the control's
// size, copy, file and double-click.
#include "framework/core/Error.h"
#include "framework/desktop/Image.h"
#include "framework/desktop/Jpeg.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>
// clang-format off: jpeglib.h needs the types of cstdio first
#include <jpeglib.h>
// clang-format on

using namespace fw;

namespace {

// A JPEG file made with libjpeg: every pixel `sample` (one value per
// component of `space`), or noise when `sample` is empty.
QByteArray encodeJpeg(int width, int height, J_COLOR_SPACE space, const QByteArray& sample) {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    QRandomGenerator noise(7);
    QByteArray row(width * info.input_components, '\0');
    while (info.next_scanline < info.image_height) {
        for (qsizetype i = 0; i < row.size(); ++i)
            row[i] = sample.isEmpty() ? char(noise.bounded(256)) : sample[i % sample.size()];
        JSAMPROW line = reinterpret_cast<JSAMPROW>(row.data());
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

QByteArray red(int width = 40, int height = 30) {
    return encodeJpeg(width, height, JCS_RGB, QByteArray("\xff\x00\x00", 3));
}

bool near(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) <= 4 && qAbs(qGreen(a) - qGreen(b)) <= 4 &&
           qAbs(qBlue(a) - qBlue(b)) <= 4;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestImage : public QObject {
    Q_OBJECT

private slots:
    void decodes_data() {
        QTest::addColumn<QByteArray>("jpeg");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRgb>("colour");
        QTest::newRow("colour") << red(40, 30) << QSize(40, 30) << qRgb(255, 0, 0);
        QTest::newRow("grey") << encodeJpeg(17, 9, JCS_GRAYSCALE, "\x80") << QSize(17, 9)
                              << qRgb(128, 128, 128);
        // Adobe's CMYK, stored inverted: red is C 0, M 1, Y 1, K 0.
        QTest::newRow("cmyk") << encodeJpeg(8, 8, JCS_CMYK, QByteArray("\xff\x00\x00\xff", 4))
                              << QSize(8, 8) << qRgb(255, 0, 0);
        QTest::newRow("bytes behind the picture")
            << red(5, 5) + "trailing bytes" << QSize(5, 5) << qRgb(255, 0, 0);
    }
    void decodes() {
        QFETCH(QByteArray, jpeg);
        QFETCH(QSize, size);
        QFETCH(QRgb, colour);
        const QImage image = decodeJpeg(jpeg);
        QCOMPARE(image.size(), size);
        QVERIFY2(near(image.pixel(size.width() / 2, size.height() / 2), colour),
                 qPrintable(QString::number(image.pixel(0, 0), 16)));
    }

    void notAWholeJpeg_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        const QByteArray noise = encodeJpeg(200, 150, JCS_RGB, QByteArray());
        QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                             << "Not a JPEG file: starts with 0x89 0x50";
        QTest::newRow("text") << QByteArray("hello") << "Not a JPEG file: starts with 0x68 0x65";
        QTest::newRow("empty") << QByteArray("") << "Empty input file";
        QTest::newRow("cut in the picture data")
            << noise.left(noise.size() / 2) << "Premature end of JPEG file";
        QTest::newRow("start of image only")
            << QByteArray("\xff\xd8", 2) << "Premature end of JPEG file";
        QByteArray huge = red(8, 8);
        const qsizetype frame = huge.indexOf("\xff\xc0");
        huge[frame + 5] = huge[frame + 7] = char(0xea); // 60000 pixels high and wide
        huge[frame + 6] = huge[frame + 8] = char(0x60);
        QTest::newRow("too large") << huge << "Picture too large: 60000 x 60000 pixels";
    }
    void notAWholeJpeg() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        try {
            decodeJpeg(bytes);
            QFAIL("decoded");
        } catch (const Error& e) {
            QCOMPARE(e.message(), message);
        }
    }

    // The control takes the picture's natural size; a scroll area around it
    // scrolls what does not fit.
    void naturalSizeInAScrollArea() {
        QScrollArea box;
        box.resize(274, 337);
        auto* image = new Image;
        box.setWidget(image);
        box.show();
        image->loadJpeg(red(600, 500));
        QCOMPARE(image->size(), QSize(600, 500));
        QTRY_COMPARE(box.horizontalScrollBar()->maximum(), 600 - box.viewport()->width());
        QCOMPARE(box.verticalScrollBar()->maximum(), 500 - box.viewport()->height());
        QVERIFY(near(image->grab().toImage().pixel(300, 250), qRgb(255, 0, 0)));

        image->clear();
        QVERIFY(image->isEmpty());
        QCOMPARE(image->size(), QSize(600, 500)); // still there to be double-clicked
    }

    // What the control saves is the bytes as they came, its own copy of them.
    void savesTheBytesAsTheyCame() {
        QTemporaryDir dir;
        QByteArray jpeg = red() + "bytes that a re-encoding would lose";
        const QByteArray given = jpeg;
        Image image;
        image.loadJpeg(jpeg);
        jpeg.fill('x'); // the caller's buffer changes afterwards
        const QString path = dir.filePath("Image4.jpg");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older picture, and longer than the new one" + QByteArray(1000, 'z'));
        old.close();
        QVERIFY(image.saveToFile(path));
        QCOMPARE(readFile(path), given);
        QCOMPARE(image.jpeg(), given);
    }

    void emptyControlWritesNoFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Image5.jpg");
        Image image;
        QVERIFY(!image.saveToFile(path));
        QVERIFY(!QFile::exists(path));

        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("from an earlier double-click");
        earlier.close();
        image.loadJpeg(red());
        image.clear();
        QVERIFY(!image.saveToFile(path));
        QCOMPARE(readFile(path), QByteArray("from an earlier double-click"));
    }

    void fileThatCannotBeWritten() {
        Image image;
        image.loadJpeg(red());
        try {
            image.saveToFile("/nonexistent folder/Image6.jpg");
            QFAIL("saved");
        } catch (const Error& e) {
            QVERIFY2(
                e.message().startsWith("Cannot create file \"/nonexistent folder/Image6.jpg\""),
                qPrintable(e.message()));
        }
    }

    // A picture that does not decode leaves the control as it was.
    void badBytesKeepThePicture() {
        Image image;
        const QByteArray first = red(12, 7);
        image.loadJpeg(first);
        QVERIFY_THROWS_EXCEPTION(Error, image.loadJpeg("not a picture"));
        QCOMPARE(image.jpeg(), first);
        QCOMPARE(image.picture().size(), QSize(12, 7));
    }

    void doubleClick() {
        Image image;
        image.resize(50, 50);
        image.setCursor(Qt::PointingHandCursor);
        image.setToolTip("双击图片可在IE中查看");
        QSignalSpy clicks(&image, &Image::doubleClicked);
        QTest::mouseDClick(&image, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseDClick(&image, Qt::RightButton, {}, QPoint(10, 10));
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(image.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(image.toolTip(), "双击图片可在IE中查看");
    }
};

MORVEL_TEST_MAIN(TestImage)
#include "tst_image.moc"
