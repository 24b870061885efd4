// The Qt implementation of the program's dialogs, driven offscreen: what each
// box shows and what each way of leaving it answers.
#include "framework/widgets/Dialogs.h"
#include "tests/support/TestMain.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <functional>

using namespace fw;

enum class Leave { Ok, Cancel, Yes, No, Enter, Escape, CloseBox };
Q_DECLARE_METATYPE(Leave)

namespace {

// Runs f on the next modal box as soon as it is open (the box's own event
// loop is running then), so the call under test returns.
void whenOpen(std::function<void(QWidget*)> f) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, f] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        f(box);
    });
    timer->start();
}

void leave(QMessageBox* box, Leave how) {
    switch (how) {
    case Leave::Ok:
        box->button(QMessageBox::Ok)->click();
        break;
    case Leave::Cancel:
        box->button(QMessageBox::Cancel)->click();
        break;
    case Leave::Yes:
        box->button(QMessageBox::Yes)->click();
        break;
    case Leave::No:
        box->button(QMessageBox::No)->click();
        break;
    case Leave::Enter:
        QTest::keyClick(box, Qt::Key_Return);
        break;
    case Leave::Escape:
        QTest::keyClick(box, Qt::Key_Escape);
        break;
    case Leave::CloseBox:
        box->close();
        break;
    }
}

struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons; // visible buttons' texts
    QString defaultButton;
};

Seen look(QMessageBox* box) {
    Seen s{box->windowTitle(), box->text(), box->icon(), {}, {}};
    for (QAbstractButton* b : box->buttons())
        if (!b->isHidden())
            s.buttons << b->text().remove(QLatin1Char('&'));
    s.buttons.sort();
    if (box->defaultButton())
        s.defaultButton = box->defaultButton()->text().remove(QLatin1Char('&'));
    return s;
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void init() { setApplicationTitle(QStringLiteral("Morvelserver")); }

    void defaultTitleIsTheProgramNameWithTheRestInLowerCase() {
        // A copy of this program under the console's name reports its title.
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("MorvelServer.exe"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QProcess child;
        child.start(copy, {QStringLiteral("--print-title")});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), QStringLiteral("Morvelserver"));

        setApplicationTitle(QStringLiteral("《Tavenic》考试服务器"));
        QCOMPARE(applicationTitle(), QStringLiteral("《Tavenic》考试服务器"));
    }

    void showMessageIsPlain() {
        Seen seen;
        whenOpen([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            seen = look(box);
            leave(box, Leave::Enter);
        });
        dialogs().showMessage(QStringLiteral("请先加载试题!"));
        QCOMPARE(seen.title, QStringLiteral("Morvelserver"));
        QCOMPARE(seen.text, QStringLiteral("请先加载试题!"));
        QCOMPARE(seen.icon, QMessageBox::NoIcon);
        QCOMPARE(seen.buttons, QStringList{"OK"});
    }

    void showErrorIsTheStandardErrorBox() {
        Seen seen;
        whenOpen([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            seen = look(box);
            leave(box, Leave::Ok);
        });
        dialogs().showError(QStringLiteral("'abc' is not a valid integer value"));
        QCOMPARE(seen.title, QStringLiteral("Morvelserver"));
        QCOMPARE(seen.text, QStringLiteral("'abc' is not a valid integer value"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.buttons, QStringList{"OK"});
    }

    void messageBoxHonoursTheFlags_data() {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<Leave>("how");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("defaultButton");
        QTest::addColumn<QMessageBox::Icon>("icon");
        const unsigned resume = 289; // MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2
        const unsigned collect = 33; // MB_OKCANCEL | MB_ICONQUESTION
        const QStringList oc{"Cancel", "OK"}, yn{"No", "Yes"}, ok{"OK"};
        const auto q = QMessageBox::Question;
        QTest::newRow("289 OK") << resume << Leave::Ok << int(IDOK) << oc << "Cancel" << q;
        QTest::newRow("289 Cancel")
            << resume << Leave::Cancel << int(IDCANCEL) << oc << "Cancel" << q;
        QTest::newRow("289 Enter")
            << resume << Leave::Enter << int(IDCANCEL) << oc << "Cancel" << q;
        QTest::newRow("289 Escape")
            << resume << Leave::Escape << int(IDCANCEL) << oc << "Cancel" << q;
        QTest::newRow("289 close box")
            << resume << Leave::CloseBox << int(IDCANCEL) << oc << "Cancel" << q;
        QTest::newRow("33 Enter") << collect << Leave::Enter << int(IDOK) << oc << "OK" << q;
        QTest::newRow("33 Cancel") << collect << Leave::Cancel << int(IDCANCEL) << oc << "OK" << q;
        QTest::newRow("33 Escape") << collect << Leave::Escape << int(IDCANCEL) << oc << "OK" << q;
        QTest::newRow("MB_OK Escape")
            << unsigned(MB_OK) << Leave::Escape << int(IDOK) << ok << "OK" << QMessageBox::NoIcon;
        QTest::newRow("MB_YESNO No") << unsigned(MB_YESNO | MB_ICONEXCLAMATION) << Leave::No
                                     << int(IDNO) << yn << "Yes" << QMessageBox::Warning;
        QTest::newRow("MB_YESNO Yes") << unsigned(MB_YESNO | MB_ICONINFORMATION) << Leave::Yes
                                      << int(IDYES) << yn << "Yes" << QMessageBox::Information;
    }

    void messageBoxHonoursTheFlags() {
        QFETCH(unsigned, flags);
        QFETCH(Leave, how);
        QFETCH(int, answer);
        QFETCH(QStringList, shown);
        QFETCH(QString, defaultButton);
        QFETCH(QMessageBox::Icon, icon);
        Seen seen;
        whenOpen([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            seen = look(box);
            leave(box, how);
        });
        const QString text = QStringLiteral("是否要对当前选择的考生重新考试？\r\r0001-张三");
        QCOMPARE(dialogs().messageBox(text, QStringLiteral("警告"), flags), answer);
        QCOMPARE(seen.title, QStringLiteral("警告"));
        QCOMPARE(seen.text, text);
        QCOMPARE(seen.icon, icon);
        QCOMPARE(seen.buttons, shown);
        QCOMPARE(seen.defaultButton, defaultButton);
    }

    void messageDlgAnswers_data() {
        QTest::addColumn<MsgDlgType>("type");
        QTest::addColumn<MsgDlgButtons>("buttons");
        QTest::addColumn<Leave>("how");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("shown");
        const auto info = MsgDlgType::Information;
        const auto yesNo = MsgDlgButtons::YesNo;
        const QStringList yn{"No", "Yes"};
        QTest::newRow("Yes") << info << yesNo << Leave::Yes << int(mrYes) << "Information" << yn;
        QTest::newRow("No") << info << yesNo << Leave::No << int(mrNo) << "Information" << yn;
        QTest::newRow("Escape") << info << yesNo << Leave::Escape << int(mrCancel) << "Information"
                                << yn;
        QTest::newRow("close box")
            << info << yesNo << Leave::CloseBox << int(mrCancel) << "Information" << yn;
        const auto confirm = MsgDlgType::Confirmation;
        const auto okCancel = MsgDlgButtons::OkCancel;
        const QStringList oc{"Cancel", "OK"};
        QTest::newRow("OK") << confirm << okCancel << Leave::Ok << int(mrOk) << "Confirmation"
                            << oc;
        QTest::newRow("Cancel") << confirm << okCancel << Leave::Cancel << int(mrCancel)
                                << "Confirmation" << oc;
        QTest::newRow("confirm closed")
            << confirm << okCancel << Leave::CloseBox << int(mrCancel) << "Confirmation" << oc;
    }

    void messageDlgAnswers() {
        QFETCH(MsgDlgType, type);
        QFETCH(MsgDlgButtons, buttons);
        QFETCH(Leave, how);
        QFETCH(int, answer);
        QFETCH(QString, title);
        QFETCH(QStringList, shown);
        Seen seen;
        whenOpen([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            seen = look(box);
            leave(box, how);
        });
        QCOMPARE(dialogs().messageDlg(QStringLiteral("是否真的要关闭考试服务器？"), type, buttons),
                 answer);
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.text, QStringLiteral("是否真的要关闭考试服务器？"));
        QCOMPARE(seen.buttons, shown);
    }

    void inputQueryTakesTheTypedValue() {
        QString caption, prompt, start;
        int maxLength = 0;
        whenOpen([&](QWidget* w) {
            auto* dialog = qobject_cast<QInputDialog*>(w);
            QVERIFY(dialog);
            caption = dialog->windowTitle();
            prompt = dialog->labelText();
            auto* edit = dialog->findChild<QLineEdit*>();
            start = edit->text();
            maxLength = edit->maxLength();
            edit->selectAll();
            QTest::keyClicks(edit, QStringLiteral("192.168.1.100"));
            dialog->accept();
        });
        QString value = QStringLiteral("10.0.0.1");
        QVERIFY(
            dialogs().inputQuery(QStringLiteral("设置"), QStringLiteral("服务器IP:"), value, 12));
        QCOMPARE(caption, QStringLiteral("设置"));
        QCOMPARE(prompt, QStringLiteral("服务器IP:"));
        QCOMPARE(start, QStringLiteral("10.0.0.1"));
        QCOMPARE(maxLength, 12);
        QCOMPARE(value, QStringLiteral("192.168.1.10")); // typing stopped at 12 characters
    }

    void inputQueryCancelledKeepsTheValue() {
        whenOpen([](QWidget* w) {
            auto* dialog = qobject_cast<QInputDialog*>(w);
            dialog->findChild<QLineEdit*>()->setText(QStringLiteral("changed"));
            dialog->reject();
        });
        QString value = QStringLiteral("kept");
        QVERIFY(!dialogs().inputQuery(QStringLiteral("c"), QStringLiteral("p"), value));
        QCOMPARE(value, QStringLiteral("kept"));
    }

    void openFileTakesATypedNameThatNeedNotExist() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QStringList filters;
        QString startDir, startName;
        whenOpen([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            QVERIFY(dialog);
            filters = dialog->nameFilters();
            startDir = dialog->directory().absolutePath();
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            startName = name->text();
            name->setText(QStringLiteral("考生名单.xls"));
            static_cast<QDialog*>(dialog)->accept();
        });
        QString file = dir.filePath(QStringLiteral("last.xls"));
        QVERIFY(dialogs().openFile(QStringLiteral("Microsoft Excel 工作簿(*.XLS)|*.xls"), file));
        QCOMPARE(filters, QStringList{"Microsoft Excel 工作簿(*.XLS) (*.xls)"});
        QCOMPARE(startDir, QDir(dir.path()).absolutePath());
        QCOMPARE(startName, QStringLiteral("last.xls"));
        QCOMPARE(file, dir.filePath(QStringLiteral("考生名单.xls")));
        QVERIFY(!QFileInfo::exists(file));
    }

    void openFileStartsAtTheLastChoice() {
        QTemporaryDir dir;
        const QString chosen = dir.filePath(QStringLiteral("bank.mdb"));
        whenOpen([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(chosen);
            static_cast<QDialog*>(dialog)->accept();
        });
        QString file;
        QVERIFY(dialogs().openFile(QStringLiteral("Microsoft Access 数据库(*.MDB)|*.mdb"), file));
        QCOMPARE(file, chosen);

        QString startName;
        whenOpen([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            startName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            dialog->reject();
        });
        QString again;
        QVERIFY(!dialogs().openFile(QStringLiteral("Microsoft Access 数据库(*.MDB)|*.mdb"), again));
        QCOMPARE(startName, QStringLiteral("bank.mdb"));
        QVERIFY(again.isEmpty());
    }

    void replacedDialogsAreUsedAndRestored() {
        struct Recorder : Dialogs {
            QString last;
            void showMessage(const QString& t) override { last = t; }
            int messageBox(const QString&, const QString&, unsigned) override { return IDOK; }
            int messageDlg(const QString&, MsgDlgType, MsgDlgButtons) override { return mrOk; }
            bool inputQuery(const QString&, const QString&, QString&, int) override {
                return false;
            }
            bool openFile(const QString&, QString&) override { return false; }
            void showError(const QString&) override {}
        } recorder;
        setDialogs(&recorder);
        dialogs().showMessage(QStringLiteral("x"));
        QCOMPARE(recorder.last, QStringLiteral("x"));
        setDialogs(nullptr);
        QVERIFY(&dialogs() != static_cast<Dialogs*>(&recorder));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--print-title") == 0) {
        QTextStream(stdout) << applicationTitle();
        return 0;
    }
    QLocale::setDefault(QLocale::c());
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    TestDialogs test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_dialogs.moc"
