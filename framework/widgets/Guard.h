#pragma once

#include "framework/widgets/Dialogs.h"

#include <QObject>
#include <exception>
#include <utility>

namespace fw {

// Runs a handler; an exception that escapes it is shown in the standard error
// box and the program goes on. Returns false when the handler raised.
template <class F> bool guard(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
        return true;
    } catch (const std::exception& e) {
        dialogs().showError(QString::fromUtf8(e.what()));
    } catch (...) {
        dialogs().showError(QStringLiteral("Unknown error"));
    }
    return false;
}

// Connects a signal to a handler method through the guard:
//   fw::on(Btn_Start, &QPushButton::clicked, this, &Tfrm_Main::Btn_StartClick);
// The handler gets the sender object first, like the form's event handlers,
// then the signal's arguments, as many as it declares:
//   fw::on(ClientSocket1, &fw::ClientSocket::error, this, &Tfrm_Main::ClientSocket1Error);
//   void Tfrm_Main::ClientSocket1Error(QObject* Sender, int& ErrorCode);
template <class Sender, class Signal, class Receiver, class... Args>
QMetaObject::Connection on(Sender* sender, Signal signal, Receiver* receiver,
                           void (Receiver::*handler)(QObject*, Args...)) {
    return QObject::connect(sender, signal, receiver, [sender, receiver, handler](Args... args) {
        guard([&] { (receiver->*handler)(sender, std::forward<Args>(args)...); });
    });
}

} // namespace fw
