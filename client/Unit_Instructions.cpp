#include "client/Unit_Instructions.h"

#include "client/Unit_main.h"
#include "framework/core/Application.h"
#include "framework/core/ProfileFile.h"

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace client {

bool EnteredExam = false;
Tfrm_Instructions* frm_Instructions = nullptr;

namespace {

// The line before each instruction line: no visible text.
const QString Separator;

} // namespace

Tfrm_Instructions::Tfrm_Instructions(QWidget* parent) : Form(parent) {
    shapeDialog("frm_Instructions", "考生需知", 474, 367, 16);

    Panel1 = new QLabel("==考生须知==", this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 0, 474, 49);
    Panel1->setAlignment(Qt::AlignCenter);
    QFont heading = fw::formFont(19);
    heading.setBold(true);
    Panel1->setFont(heading);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(16, 49, 441, 265);
    Memo1->setFont(fw::formFont(15));
    Memo1->setReadOnly(true);
    Memo1->setFocusPolicy(Qt::StrongFocus);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QPalette white = Memo1->palette();
    white.setColor(QPalette::Base, Qt::white);
    Memo1->setPalette(white);

    Panel2 = new QFrame(this);
    Panel2->setObjectName("Panel2");
    Panel2->setGeometry(0, 367 - 53, 474, 53);

    const auto label = [this](const char* name, int left) {
        auto* l = new QLabel(Panel2);
        l->setObjectName(name);
        l->move(left, 16);
        QFont font = fw::formFont(21);
        font.setBold(true);
        l->setFont(font);
        QPalette blue = l->palette();
        blue.setColor(QPalette::WindowText, Qt::blue);
        l->setPalette(blue);
        return l;
    };
    Label1 = label("Label1", 32);
    Label2 = label("Label2", 176);

    Button1 = new QPushButton("进入考试 >>", Panel2);
    Button1->setObjectName("Button1");
    Button1->setGeometry(336, 11, 129, 31);

    setTabOrder(Memo1, Button1);
    setActiveControl(Memo1);

    fw::on(Button1, &QPushButton::clicked, this, &Tfrm_Instructions::Button1Click);
}

void Tfrm_Instructions::FormShow(QObject*) {
    Label1->setText(ExamNo);
    Label1->adjustSize();
    Label2->setText(ExamineeName);
    Label2->adjustSize();
    fw::ProfileFile ini(IniFileName());
    QStringList lines;
    for (const char* key : {"T1", "T2", "T3", "T4", "T5", "T6", "T7"})
        lines << Separator << ini.readString(IniSection, key, "");
    Memo1->appendPlainText(lines.join('\n'));
}

void Tfrm_Instructions::Button1Click(QObject*) {
    EnteredExam = true;
    close();
    frm_Main->show();
}

void Tfrm_Instructions::FormClose(QObject*, fw::CloseAction&) {
    if (!EnteredExam)
        fw::terminate();
}

} // namespace client
