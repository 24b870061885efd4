// The form base: show and close reach FormShow and FormClose through the
// handler guard, with the close actions none, hide and free.
#include "framework/core/Application.h"
#include "framework/core/Error.h"
#include "framework/widgets/Form.h"
#include "framework/widgets/Label.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestMain.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <functional>

using fw::CloseAction;
Q_DECLARE_METATYPE(fw::CloseAction)

namespace {

// What a test window's handlers do, and what they saw.
struct Script {
    std::function<void()> onShow = [] {};
    CloseAction action = CloseAction::caHide;
    bool raiseOnClose = false;
    int shows = 0;
    int closes = 0;
    QObject* sender = nullptr;
};

template <class Base> class TestForm : public Base {
public:
    explicit TestForm(Script& script) : m_script(script) {}
    void FormShow(QObject* Sender) override {
        ++m_script.shows;
        m_script.sender = Sender;
        m_script.onShow();
    }
    void FormClose(QObject* Sender, CloseAction& Action) override {
        ++m_script.closes;
        m_script.sender = Sender;
        QCOMPARE(Action, CloseAction::caHide);
        if (m_script.raiseOnClose)
            throw fw::Error("close failed");
        Action = m_script.action;
    }
    using Base::holdClose;
    using Base::setActiveControl;
    using Base::setCancelButton;
    using Base::setDefaultButton;

private:
    Script& m_script;
};

using Window = TestForm<fw::Form<QWidget>>;
using MainWindow = TestForm<fw::Form<QMainWindow>>;
using Dialog = TestForm<fw::Dialog>;

} // namespace

class TestFormBase : public QObject {
    Q_OBJECT

private:
    ScriptedDialogs* m_dialogs = nullptr;

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() { m_dialogs = new ScriptedDialogs; }
    void cleanup() { delete m_dialogs; }

    void everyShowingRunsFormShow() {
        Script script;
        MainWindow window(script);
        window.show();
        QCOMPARE(script.shows, 1);
        QCOMPARE(script.sender, &window);
        window.hide();
        window.show();
        QCOMPARE(script.shows, 2);
    }

    void anErrorInFormShowLeavesTheWindowShown() {
        Script script;
        script.onShow = [] { throw fw::Error("show failed"); };
        Window window(script);
        window.show();
        QVERIFY(window.isVisible());
        QCOMPARE(m_dialogs->errors(), QStringList{"show failed"});
    }

    void closeActions_data() {
        QTest::addColumn<CloseAction>("action");
        QTest::addColumn<bool>("raise");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("freed");
        QTest::newRow("hide") << CloseAction::caHide << false << false << false;
        QTest::newRow("none") << CloseAction::caNone << false << true << false;
        QTest::newRow("free") << CloseAction::caFree << false << false << true;
        QTest::newRow("an error keeps it open") << CloseAction::caFree << true << true << false;
    }

    void closeActions() {
        QFETCH(CloseAction, action);
        QFETCH(bool, raise);
        QFETCH(bool, visible);
        QFETCH(bool, freed);
        Script script;
        script.action = action;
        script.raiseOnClose = raise;
        QPointer<Window> window = new Window(script);
        window->show();
        QCOMPARE(window->close(), !visible);
        QCOMPARE(script.closes, 1);
        QCOMPARE(script.sender, window.data());
        QCOMPARE(window->isVisible(), visible);
        // freed once the event loop runs again, not under the close
        QVERIFY(window);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(window.isNull(), freed);
        QCOMPARE(m_dialogs->errors(), raise ? QStringList{"close failed"} : QStringList());
        delete window;
    }

    void aDialogClosesThroughFormCloseWhateverClosesIt_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("accept") << "accept";
        QTest::newRow("reject") << "reject";
        QTest::newRow("the close box") << "close";
    }

    void aDialogClosesThroughFormCloseWhateverClosesIt() {
        QFETCH(QString, how);
        Script script;
        script.action = CloseAction::caNone;
        Dialog dialog(script);
        dialog.show();
        const auto closeIt = [&] {
            if (how == "accept")
                dialog.accept();
            else if (how == "reject")
                dialog.reject();
            else
                dialog.close();
        };
        closeIt();
        QCOMPARE(script.closes, 1);
        QVERIFY(dialog.isVisible());
        script.action = CloseAction::caHide;
        closeIt();
        QCOMPARE(script.closes, 2);
        QVERIFY(!dialog.isVisible());
    }

    void aModalDialogIsHiddenBetweenShowings() {
        Script script;
        Dialog dialog(script);
        QTimer::singleShot(0, &dialog, [&] { dialog.accept(); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QTimer::singleShot(0, &dialog, [&] { dialog.reject(); });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(script.shows, 2);
        QCOMPARE(script.closes, 2);
    }

    void aCloseUnderAHoldWaitsForIt() {
        Script script;
        script.action = CloseAction::caFree;
        QPointer<Window> window = new Window(script);
        window->show();
        {
            const auto hold = window->holdClose();
            QVERIFY(!window->close()); // a box of the window is open
            QCOMPARE(script.closes, 0);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(window);
            QVERIFY(window->isVisible());
        }
        QCOMPARE(script.closes, 1);
        QVERIFY(!window->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(window.isNull());
    }

    void aHoldWithoutCloseDoesNothing() {
        Script script;
        Window window(script);
        window.show();
        { const auto hold = window.holdClose(); }
        QCOMPARE(script.closes, 0);
        QVERIFY(window.isVisible());
    }

    void theActiveControlHasTheFocusAtTheFirstShowing() {
        Script script;
        Window window(script);
        auto* first = new QLineEdit(&window);
        auto* active = new QLineEdit(&window);
        window.setActiveControl(active);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.focusWidget(), active);
        first->setFocus();
        window.hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.focusWidget(), first); // only at the first showing
    }

    void enterAndEscPressTheirButtons_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("pressed");
        QTest::newRow("Enter in an edit") << "edit" << int(Qt::Key_Return) << "ok";
        QTest::newRow("keypad Enter") << "edit" << int(Qt::Key_Enter) << "ok";
        QTest::newRow("Esc") << "edit" << int(Qt::Key_Escape) << "cancel";
        QTest::newRow("Enter on another button") << "cancel" << int(Qt::Key_Return) << "cancel";
        QTest::newRow("Esc on the default button") << "ok" << int(Qt::Key_Escape) << "cancel";
    }

    void enterAndEscPressTheirButtons() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, pressed);
        Script script;
        Window window(script);
        auto* edit = new QLineEdit(&window);
        auto* ok = new QPushButton("ok", &window);
        auto* cancel = new QPushButton("cancel", &window);
        window.setDefaultButton(ok);
        window.setCancelButton(cancel);
        QStringList clicks;
        connect(ok, &QPushButton::clicked, this, [&] { clicks << "ok"; });
        connect(cancel, &QPushButton::clicked, this, [&] { clicks << "cancel"; });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget* target = focus == "edit" ? static_cast<QWidget*>(edit)
                          : focus == "ok" ? ok
                                          : cancel;
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(clicks, QStringList{pressed});
    }

    void aLabelReportsAClick() {
        fw::Label label("设置");
        label.resize(40, 20);
        QSignalSpy clicks(&label, &fw::Label::clicked);
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(clicks.size(), 1);
        QTest::mouseClick(&label, Qt::RightButton);
        QTest::mousePress(&label, Qt::LeftButton);
        QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(100, 100)); // let go outside
        QCOMPARE(clicks.size(), 1);
    }

    void formFontIsSongTiAtItsPixelHeight() {
        const QFont font = fw::formFont(19);
        QCOMPARE(font.family(), QString("宋体"));
        QCOMPARE(font.pixelSize(), 19);
    }

    // Captions are laid out by 宋体's widths: a Latin letter, a digit or a
    // blank takes half the width of a Chinese character.
    void formFontGivesLatinHalfTheWidthOfChinese() {
        const QFontMetrics metrics(fw::formFont(24));
        const int chinese = metrics.horizontalAdvance("考");
        for (const char* latin : {"1", "0", " ", "W", "i"})
            QCOMPARE(metrics.horizontalAdvance(latin) * 2, chinese);
    }

    void shapeDialogGivesAFixedWindowWithACloseBox() {
        Script script;
        Window window(script);
        fw::shapeDialog(&window, "frm_Test", "测试", 366, 191, 19);
        QCOMPARE(window.objectName(), QString("frm_Test"));
        QCOMPARE(window.windowTitle(), QString("测试"));
        QCOMPARE(window.size(), QSize(366, 191));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.font().pixelSize(), 19);
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(window.windowType(), Qt::Window);
        Dialog dialog(script);
        fw::shapeDialog(&dialog, "frm_Dialog", "d", 100, 100, 14);
        QCOMPARE(dialog.windowType(), Qt::Dialog);
    }

    // Last: it tells the test program to end.
    void closingTheMainFormEndsTheProgram() {
        Script script;
        Window other(script);
        other.show();
        other.close();
        QVERIFY(!fw::terminated());

        script.action = CloseAction::caNone;
        Window main(script);
        fw::setMainForm(&main);
        main.show();
        main.close(); // stays open
        QVERIFY(!fw::terminated());
        script.action = CloseAction::caHide;
        main.close();
        QVERIFY(fw::terminated());
        fw::setMainForm(nullptr);
        fw::resetTerminated(); // a further run in this process
        QVERIFY(!fw::terminated());
    }
};

MORVEL_TEST_MAIN(TestFormBase)
#include "tst_form.moc"
