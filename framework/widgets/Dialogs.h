#pragma once

#include <QString>

namespace fw {

// Windows MessageBox flags and answers, as the programs pass and test them.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Message dialog kinds and modal results of the framework's MessageDlg.
enum class MsgDlgType { Warning, Error, Information, Confirmation };
enum class MsgDlgButtons { YesNo, OkCancel };
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Every message box, question, input box and file dialog of the programs goes
// through this interface: a Qt implementation for the programs, a scripted
// double for the tests.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // ShowMessage: the text, one OK button, no icon, the application's title.
    virtual void showMessage(const QString& text) = 0;
    // Windows MessageBox with its flags; returns IDOK, IDCANCEL, IDYES, IDNO.
    virtual int messageBox(const QString& text, const QString& caption, unsigned flags) = 0;
    // MessageDlg: captioned by its kind ("Information", "Confirmation", ...);
    // returns mrYes, mrNo, mrOk or mrCancel (mrCancel also when closed).
    virtual int messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons) = 0;
    // InputQuery: true and value replaced on OK; maxLength 0 means no limit.
    virtual bool inputQuery(const QString& caption, const QString& prompt, QString& value,
                            int maxLength = 0) = 0;
    // The file-open dialog with a filter "Text|pattern"; true and the full
    // path on a choice, false when cancelled. fileName holds the start name.
    virtual bool openFile(const QString& filter, QString& fileName) = 0;
    // The standard error box: application title, error icon, the message.
    virtual void showError(const QString& message) = 0;
};

// The program's dialogs: the Qt implementation unless replaced (tests).
Dialogs& dialogs();
void setDialogs(Dialogs* dialogs); // nullptr restores the Qt implementation

// The application's title: set by the program, else the executable's name
// without extension, every letter after the first in lower case.
QString applicationTitle();
void setApplicationTitle(const QString& title);

} // namespace fw
