#include "ScriptedDialogs.h"

#include <QTest>

ScriptedDialogs::ScriptedDialogs() {
    fw::setDialogs(this);
}
ScriptedDialogs::~ScriptedDialogs() {
    fw::setDialogs(nullptr);
}

QStringList ScriptedDialogs::texts() const {
    QStringList out;
    for (const Call& c : calls)
        out << c.text;
    return out;
}

QStringList ScriptedDialogs::errors() const {
    QStringList out;
    for (const Call& c : calls)
        if (c.kind == Kind::Error)
            out << c.text;
    return out;
}

void ScriptedDialogs::clear() {
    calls.clear();
    m_answers.clear();
    m_whileOpen = nullptr;
}

void ScriptedDialogs::opened() {
    if (auto f = std::exchange(m_whileOpen, nullptr))
        f();
}

QVariant ScriptedDialogs::next(const char* what) {
    if (m_answers.isEmpty()) {
        QTest::qFail(qPrintable(QString("unscripted %1: %2").arg(what, calls.last().text)),
                     __FILE__, __LINE__);
        return QVariant();
    }
    return m_answers.takeFirst();
}

void ScriptedDialogs::showMessage(const QString& text) {
    calls.append({Kind::Message, text, fw::applicationTitle(), 0});
    opened();
}

int ScriptedDialogs::messageBox(const QString& text, const QString& caption, unsigned flags) {
    calls.append({Kind::MessageBox, text, caption, flags});
    opened();
    const QVariant a = next("messageBox");
    return a.isValid() ? a.toInt() : fw::IDCANCEL;
}

int ScriptedDialogs::messageDlg(const QString& text, fw::MsgDlgType type, fw::MsgDlgButtons) {
    calls.append({Kind::MessageDlg, text, QString(), unsigned(type)});
    opened();
    const QVariant a = next("messageDlg");
    return a.isValid() ? a.toInt() : fw::mrCancel;
}

bool ScriptedDialogs::inputQuery(const QString& caption, const QString& prompt, QString& value,
                                 int) {
    calls.append({Kind::Input, prompt, caption, 0});
    opened();
    const QVariant a = next("inputQuery");
    if (!a.isValid())
        return false;
    value = a.toString();
    return true;
}

bool ScriptedDialogs::openFile(const QString& filter, QString& fileName) {
    calls.append({Kind::OpenFile, filter, QString(), 0});
    opened();
    const QVariant a = next("openFile");
    if (!a.isValid())
        return false;
    fileName = a.toString();
    return true;
}

void ScriptedDialogs::showError(const QString& message) {
    calls.append({Kind::Error, message, fw::applicationTitle(), 0});
    opened();
}
