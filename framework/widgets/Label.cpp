#include "framework/widgets/Label.h"

#include <QMouseEvent>
#include <utility>

namespace fw {

void Label::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

// A click is a press and a release of the left button, both on the label.
void Label::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = std::exchange(m_pressed, false) && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

} // namespace fw
