#pragma once

#include "framework/widgets/Form.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace fw {
class Label;
}

namespace client {

// The login window, the first that the examinee sees: the exam number is
// looked up in the exam database, then reported to the exam server, whose
// "00" admits the examinee. Freed once the login is accepted; closed before,
// it ends the program.
class Tfrm_Login : public fw::Form<QWidget> {
    Q_OBJECT
public:
    explicit Tfrm_Login(QWidget* parent = nullptr);
    ~Tfrm_Login() override;

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    fw::Label* Label2 = nullptr;

    void FormShow(QObject* Sender) override;
    void FormClose(QObject* Sender, fw::CloseAction& Action) override;
    void BitBtn1Click(QObject* Sender);
    void BitBtn2Click(QObject* Sender);
    void Label2Click(QObject* Sender);
};

// Null once the window is freed.
extern Tfrm_Login* frm_Login;

} // namespace client
