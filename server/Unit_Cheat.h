#pragma once

#include "framework/widgets/Form.h"

class QLabel;
class QPushButton;

namespace fw {
class DataSource;
class DBMemo;
class DBText;
class Query;
} // namespace fw

namespace server {

// The cheating record of the grid's current examinee: opened if stored,
// started if not; "确定" stores it, "取消" drops the change.
class Tfrm_Cheat : public fw::Dialog {
    Q_OBJECT
public:
    // Binds its query to the main window's exam database connection.
    explicit Tfrm_Cheat(QWidget* parent = nullptr);
    ~Tfrm_Cheat() override;

    QLabel* Label1 = nullptr;
    fw::DBText* DBText1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    fw::DBText* DBText2 = nullptr;
    QLabel* Label5 = nullptr;
    fw::DBMemo* DBMemo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    fw::Query* ADOQuery1 = nullptr; // 作弊处理 rows of one exam number
    fw::DataSource* DataSource1 = nullptr;

    // Shows the dialog for the grid's current examinee; with none, says so
    // and opens no record.
    int ShowModal();
    void FormShow(QObject* Sender) override;
    void Button1Click(QObject* Sender);
    void Button2Click(QObject* Sender);
};

extern Tfrm_Cheat* frm_Cheat;

} // namespace server
