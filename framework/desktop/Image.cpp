#include "framework/desktop/Image.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/desktop/Jpeg.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>

namespace fw {

Image::Image(QWidget* parent) : QWidget(parent) {}

void Image::loadJpeg(const QByteArray& jpeg) {
    m_picture = decodeJpeg(jpeg);
    m_jpeg = jpeg;
    resize(m_picture.size());
    updateGeometry();
    update();
}

void Image::clear() {
    m_picture = QImage();
    m_jpeg.clear();
    update();
}

bool Image::saveToFile(const QString& path) const {
    if (isEmpty())
        return false;
    QFile file(hostPath(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (file.write(m_jpeg) != m_jpeg.size() || !file.flush())
        throw Error(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
    return true;
}

QSize Image::sizeHint() const {
    return isEmpty() ? QWidget::sizeHint() : m_picture.size();
}

void Image::paintEvent(QPaintEvent*) {
    if (isEmpty())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, m_picture);
}

void Image::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace fw
