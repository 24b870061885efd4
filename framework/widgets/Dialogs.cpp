#include "framework/widgets/Dialogs.h"

#include "framework/core/Service.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace fw {
namespace {

// The box's buttons, the second of them the default one when asked for.
void setButtons(QMessageBox& box, QMessageBox::StandardButton first,
                QMessageBox::StandardButton second, bool secondIsDefault) {
    box.setStandardButtons(first | second);
    box.setDefaultButton(secondIsDefault ? second : first);
}

// A hidden Cancel button makes closing the box answer Cancel when no shown
// button would (a Yes/No box closes with No otherwise).
void closeAnswersCancel(QMessageBox& box) {
    if (box.button(QMessageBox::Cancel))
        return;
    QAbstractButton* hidden = box.addButton(QMessageBox::Cancel);
    hidden->hide();
    box.setEscapeButton(hidden);
}

QMessageBox::Icon iconOf(unsigned flags) {
    switch (flags & 0xF0) {
    case 0x10:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// "Text|pattern|Text|pattern" -> "Text (pattern);;Text (pattern)"; patterns
// separated by ";" become blank-separated.
QString qtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns =
            parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        out << QStringLiteral("%1 (%2)").arg(parts.at(i), patterns);
    }
    if (parts.size() % 2 == 1 && !parts.last().isEmpty())
        out << parts.last();
    return out.join(QStringLiteral(";;"));
}

class QtDialogs : public Dialogs {
public:
    void showMessage(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok);
        box.exec();
    }

    int messageBox(const QString& text, const QString& caption, unsigned flags) override {
        QMessageBox box(iconOf(flags), caption, text);
        const bool secondDefault = (flags & 0xF00) == MB_DEFBUTTON2;
        switch (flags & 0xF) {
        case MB_OKCANCEL:
            setButtons(box, QMessageBox::Ok, QMessageBox::Cancel, secondDefault);
            break;
        case MB_YESNO:
            setButtons(box, QMessageBox::Yes, QMessageBox::No, secondDefault);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        }
        box.exec();
        switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Ok:
            return IDOK;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return (flags & 0xF) == MB_OK ? IDOK : IDCANCEL;
        }
    }

    int messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons) override {
        static const struct {
            const char* title;
            QMessageBox::Icon icon;
        } kinds[] = {{"Warning", QMessageBox::Warning},
                     {"Error", QMessageBox::Critical},
                     {"Information", QMessageBox::Information},
                     {"Confirmation", QMessageBox::Question}};
        const auto& kind = kinds[int(type)];
        QMessageBox box(kind.icon, QString::fromLatin1(kind.title), text);
        if (buttons == MsgDlgButtons::YesNo)
            setButtons(box, QMessageBox::Yes, QMessageBox::No, false);
        else
            setButtons(box, QMessageBox::Ok, QMessageBox::Cancel, false);
        closeAnswersCancel(box);
        box.exec();
        switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return mrYes;
        case QMessageBox::No:
            return mrNo;
        case QMessageBox::Ok:
            return mrOk;
        default:
            return mrCancel;
        }
    }

    bool inputQuery(const QString& caption, const QString& prompt, QString& value,
                    int maxLength) override {
        QInputDialog dialog;
        dialog.setInputMode(QInputDialog::TextInput);
        dialog.setWindowTitle(caption);
        dialog.setLabelText(prompt);
        dialog.setTextValue(value);
        if (maxLength > 0)
            if (auto* edit = dialog.findChild<QLineEdit*>())
                edit->setMaxLength(maxLength);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        value = dialog.textValue();
        return true;
    }

    bool openFile(const QString& filter, QString& fileName) override {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile); // a typed name need not exist
        dialog.setSizeGripEnabled(true);
        dialog.setNameFilter(qtFilter(filter));
        const QString start = fileName.isEmpty() ? m_lastFile : fileName;
        if (!start.isEmpty()) {
            const QFileInfo info(start);
            dialog.setDirectory(info.absolutePath());
            dialog.selectFile(info.fileName());
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        fileName = dialog.selectedFiles().constFirst();
        m_lastFile = fileName;
        return true;
    }

    void showError(const QString& message) override {
        QMessageBox::critical(nullptr, applicationTitle(), message);
    }

private:
    QString m_lastFile;
};

Service<Dialogs, QtDialogs> g_service;
QString g_title;

} // namespace

Dialogs& dialogs() {
    return g_service.get();
}

void setDialogs(Dialogs* d) {
    g_service.set(d);
}

QString applicationTitle() {
    if (!g_title.isEmpty())
        return g_title;
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return name.left(1) + name.mid(1).toLower();
}

void setApplicationTitle(const QString& title) {
    g_title = title;
}

} // namespace fw
