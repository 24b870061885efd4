#pragma once

#include "framework/widgets/Form.h"

#include <QWidget>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace client {

// Set by "进入考试 >>": the instructions window then closes without ending
// the program.
extern bool EnteredExam;

// The instructions window between the accepted login and the exam: the
// examinee's exam number and name and the seven lines of the settings file.
// Its button enters the exam; closing it in any other way ends the program.
class Tfrm_Instructions : public fw::Form<QWidget> {
    Q_OBJECT
public:
    explicit Tfrm_Instructions(QWidget* parent = nullptr);

    QLabel* Panel1 = nullptr; // the heading band
    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;

    void FormShow(QObject* Sender) override;
    void FormClose(QObject* Sender, fw::CloseAction& Action) override;
    void Button1Click(QObject* Sender);
};

extern Tfrm_Instructions* frm_Instructions;

} // namespace client
