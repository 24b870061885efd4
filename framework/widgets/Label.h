#pragma once

#include <QLabel>

namespace fw {

// A label that reports a click of the left mouse button, for a label used as
// a link ("设置", a folder to open).
class Label : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

} // namespace fw
