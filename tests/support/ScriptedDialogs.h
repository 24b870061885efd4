#pragma once

#include "framework/widgets/Dialogs.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>

// The scripted double of fw::Dialogs: records every box that a handler shows
// and answers from a script. Install with fw::setDialogs(&dialogs).
class ScriptedDialogs : public fw::Dialogs {
public:
    enum class Kind { Message, MessageBox, MessageDlg, Input, OpenFile, Error };
    struct Call {
        Kind kind;
        QString text;    // message, prompt or filter
        QString caption; // MessageBox caption, input caption
        unsigned flags = 0;
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // Answers, taken in order by the boxes that ask something:
    //   messageBox/messageDlg: an int (IDOK, IDCANCEL, mrYes, ...)
    //   inputQuery: a QString (OK with that value) or an invalid QVariant (Cancel)
    //   openFile: a QString path (chosen) or an invalid QVariant (cancelled)
    // A box that asks with an empty script fails the test and answers Cancel.
    void answer(const QVariant& a) { m_answers.append(a); }
    // Runs while the next box of any kind is "open" (before it answers), to
    // play events that arrive while a modal box waits.
    void whileOpen(std::function<void()> f) { m_whileOpen = std::move(f); }

    QList<Call> calls;
    QStringList texts() const;  // the texts of all calls, in order
    QStringList errors() const; // the texts of the error boxes
    void clear();
    int pendingAnswers() const { return m_answers.size(); }

    void showMessage(const QString& text) override;
    int messageBox(const QString& text, const QString& caption, unsigned flags) override;
    int messageDlg(const QString& text, fw::MsgDlgType type, fw::MsgDlgButtons buttons) override;
    bool inputQuery(const QString& caption, const QString& prompt, QString& value,
                    int maxLength) override;
    bool openFile(const QString& filter, QString& fileName) override;
    void showError(const QString& message) override;

private:
    QVariant next(const char* what);
    void opened();
    QList<QVariant> m_answers;
    std::function<void()> m_whileOpen;
};
