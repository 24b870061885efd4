#pragma once

#include <QByteArray>
#include <QImage>
#include <QWidget>

namespace fw {

// The picture control: shows a JPEG picture at its natural size from the top
// left corner and takes that size, so that a scroll area around it scrolls a
// larger picture. It holds its own copy of the picture and of the JPEG bytes
// as they came, which saveToFile() writes unchanged. Cleared, it shows
// nothing and keeps its size. Cursor and hint are the widget's own
// (setCursor, setToolTip).
class Image : public QWidget {
    Q_OBJECT
public:
    explicit Image(QWidget* parent = nullptr);

    // Decodes and shows `jpeg`; raises fw::Error with the decoder's message
    // when the bytes are not a JPEG picture, and then shows what it showed.
    void loadJpeg(const QByteArray& jpeg);
    void clear();
    bool isEmpty() const { return m_picture.isNull(); }
    QByteArray jpeg() const { return m_jpeg; }
    QImage picture() const { return m_picture; }

    // Writes the picture's JPEG bytes to `path` (Windows form on a mapped
    // drive, or a host path), replacing a file there; writes nothing and
    // returns false when the control holds no picture. Raises fw::Error when
    // the file cannot be written.
    bool saveToFile(const QString& path) const;

    QSize sizeHint() const override;

signals:
    void doubleClicked(); // OnDblClick: the left button

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QByteArray m_jpeg;
    QImage m_picture;
};

} // namespace fw
