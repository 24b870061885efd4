#include "framework/widgets/Form.h"

#include <QGuiApplication>
#include <QScreen>

namespace fw {

namespace {
QPointer<QWidget> g_mainForm;
} // namespace

QFont formFont(int pixelHeight) {
    static const bool substituted = [] {
        // 宋体 gives Latin letters, digits and blanks half the width of a
        // Chinese character, and layouts count on it (a number set into the
        // blanks of a caption): the fixed-pitch faces first.
        QFont::insertSubstitutions("宋体",
                                   {"SimSun", "NSimSun", "WenQuanYi Zen Hei Mono",
                                    "Noto Sans Mono CJK SC", "WenQuanYi Zen Hei",
                                    "Noto Sans CJK SC", "Noto Serif CJK SC", "AR PL UMing CN"});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font("宋体");
    font.setPixelSize(pixelHeight);
    return font;
}

QColor desktopColor() {
    return QColor(0x3a, 0x6e, 0xa5);
}

void setMainForm(QWidget* form) {
    g_mainForm = form;
}

QWidget* mainForm() {
    return g_mainForm;
}

void placeCentred(QWidget* window, int clientWidth, int clientHeight) {
    window->resize(clientWidth, clientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(clientWidth / 2, clientHeight / 2));
    }
}

void shapeDialog(QWidget* window, const char* name, const QString& caption, int clientWidth,
                 int clientHeight, int fontPixelHeight) {
    const Qt::WindowFlags type = qobject_cast<QDialog*>(window) ? Qt::Dialog : Qt::Window;
    window->setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    window->setObjectName(name);
    window->setWindowTitle(caption);
    window->setFont(formFont(fontPixelHeight));
    window->setFixedSize(clientWidth, clientHeight);
    placeCentred(window, clientWidth, clientHeight);
}

void Dialog::done(int result) {
    if (closeQuery())
        Form<QDialog>::done(result);
}

} // namespace fw
