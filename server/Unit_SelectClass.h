#pragma once

#include "server/Unit_Main.h"

#include <QDialog>

class QCheckBox;
class QListWidget;
class QPushButton;

namespace fw {
class Query;
}

namespace server {

// The class-selection dialog: the classes not yet examined, ticked as stored
// chosen; "确定" stores the ticks and restricts the grid to their examinees.
class Tfrm_SelectClass : public fw::Dialog {
    Q_OBJECT
public:
    // Binds its query to the main window's exam database connection.
    explicit Tfrm_SelectClass(QWidget* parent = nullptr);
    ~Tfrm_SelectClass() override;

    QListWidget* CheckListBox1 = nullptr;
    QPushButton* Btn_OK = nullptr;
    QPushButton* Btn_Close = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    fw::Query* ADOQuery1 = nullptr; // 考试情况 rows not yet examined; row k is item k

    int ShowModal();
    void FormShow(QObject* Sender) override;
    void FormClose(QObject* Sender, CloseAction& Action) override;
    void Btn_OKClick(QObject* Sender);
    void CheckBox1Click(QObject* Sender);

    void LoadClassList();
    bool SelectionChanged();
    bool AnyClassChecked() const;
    bool Ticked(int item) const;

    // Raises, before anything is written, when the class query no longer
    // holds the rows the list was filled from, in the same order.
    void CheckRowsMatchList();

private:
    void TickStoredChoice();
};

extern Tfrm_SelectClass* frm_SelectClass;

} // namespace server
