#pragma once

#include "framework/core/Application.h"
#include "framework/widgets/Guard.h"

#include <QCloseEvent>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QWidget>
#include <type_traits>
#include <utility>

namespace fw {

// What a window's close handler decides: the window stays open, is hidden
// (what a close does unless the handler says otherwise) or is freed.
enum class CloseAction { caNone, caHide, caFree };

// The windows' font: "宋体" at the given pixel height; an installed CJK face
// stands in where it is missing, one whose Latin letters and blanks are half
// as wide as a Chinese character where there is one.
QFont formFont(int pixelHeight);

// The colour of the desktop, which some controls take as their background.
QColor desktopColor();

// The program's main window. Closing it ends the program (fw::terminate()),
// whatever its close handler leaves as the action, unless it stays open.
void setMainForm(QWidget* form);
QWidget* mainForm();

// Gives a window its client size and places it in the middle of the screen.
void placeCentred(QWidget* window, int clientWidth, int clientHeight);

// A window with a fixed border and only a close box, of the given client
// size, in the windows' font at the given height, in the middle of the
// screen. A QDialog stays a dialog; any other window is a top-level window.
void shapeDialog(QWidget* window, const char* name, const QString& caption, int clientWidth,
                 int clientHeight, int fontPixelHeight);

// The base of every window of the programs, over QWidget, QMainWindow or
// QDialog (for the last, derive from fw::Dialog). Showing the window runs
// FormShow and closing it runs FormClose, both through the handler guard; an
// error in FormShow leaves the window shown, an error in FormClose keeps it
// open, like the action caNone.
template <class Base> class Form : public Base {
public:
    using Base::Base;

    // Runs each time the program shows the window.
    virtual void FormShow(QObject* Sender) { Q_UNUSED(Sender); }
    // Runs on every close; Action arrives as caHide.
    virtual void FormClose(QObject* Sender, CloseAction& Action) {
        Q_UNUSED(Sender);
        Q_UNUSED(Action);
    }

protected:
    static constexpr bool IsDialog = std::is_base_of_v<QDialog, Base>;

    // The control that has the focus when the window is first shown.
    void setActiveControl(QWidget* control) { m_activeControl = control; }
    // Enter presses the default button (or the button that has the focus),
    // Esc the cancel button; a QDialog does this by itself.
    void setDefaultButton(QPushButton* button) {
        m_defaultButton = button;
        button->setDefault(true);
    }
    void setCancelButton(QPushButton* button) { m_cancelButton = button; }

    void placeCentred(int clientWidth, int clientHeight) {
        fw::placeCentred(this, clientWidth, clientHeight);
    }
    void shapeDialog(const char* name, const QString& caption, int clientWidth, int clientHeight,
                     int fontPixelHeight) {
        fw::shapeDialog(this, name, caption, clientWidth, clientHeight, fontPixelHeight);
    }

    // While the returned hold lives (a handler that opens a modal box of its
    // own), a close asked for is put off; it is carried out when the hold
    // ends, so the window is never freed under the running handler.
    class CloseHold {
    public:
        explicit CloseHold(Form* form) : m_form(form) { ++m_form->m_holds; }
        ~CloseHold() {
            if (--m_form->m_holds == 0 && std::exchange(m_form->m_closeHeld, false))
                m_form->close();
        }
        CloseHold(const CloseHold&) = delete;
        CloseHold& operator=(const CloseHold&) = delete;

    private:
        Form* m_form;
    };
    [[nodiscard]] CloseHold holdClose() { return CloseHold(this); }

    // Runs the close handler: true when the window may close. A window that
    // is to be freed goes once the event loop runs again.
    bool closeQuery() {
        if (m_holds > 0) {
            m_closeHeld = true;
            return false;
        }
        CloseAction action = CloseAction::caHide;
        if (!guard([&] { FormClose(this, action); }) || action == CloseAction::caNone)
            return false;
        if (action == CloseAction::caFree)
            this->deleteLater();
        if (this == mainForm())
            fw::terminate();
        return true;
    }

    void showEvent(QShowEvent* event) override {
        Base::showEvent(event);
        if (event->spontaneous())
            return;
        if (m_activeControl && !std::exchange(m_shownBefore, true))
            m_activeControl->setFocus();
        guard([&] { FormShow(this); });
    }

    void closeEvent(QCloseEvent* event) override {
        if constexpr (IsDialog) {
            Base::closeEvent(event); // through reject() to done()
        } else {
            if (closeQuery())
                event->accept();
            else
                event->ignore();
        }
    }

    void keyPressEvent(QKeyEvent* event) override {
        if constexpr (!IsDialog) {
            if (QPushButton* button = keyButton(*event)) {
                button->click();
                return;
            }
        }
        Base::keyPressEvent(event);
    }

private:
    QPushButton* keyButton(const QKeyEvent& event) const {
        if (event.modifiers() & ~Qt::KeypadModifier)
            return nullptr;
        QPushButton* button = nullptr;
        if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) {
            button = qobject_cast<QPushButton*>(this->focusWidget());
            if (!button)
                button = m_defaultButton;
        } else if (event.key() == Qt::Key_Escape) {
            button = m_cancelButton;
        }
        return button && button->isEnabled() && button->isVisible() ? button : nullptr;
    }

    QPointer<QWidget> m_activeControl;
    QPointer<QPushButton> m_defaultButton;
    QPointer<QPushButton> m_cancelButton;
    bool m_shownBefore = false;
    int m_holds = 0;
    bool m_closeHeld = false;
};

// A dialog window: the buttons that carry a modal result, Esc and the close
// box all close it through FormClose.
class Dialog : public Form<QDialog> {
public:
    using Form<QDialog>::Form;

protected:
    void done(int result) override;
};

} // namespace fw
