#pragma once

#include "framework/data/DataSource.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <QVector>
#include <QWidget>

class QToolButton;
class QRadioButton;

namespace fw {

class Dataset;
class DataSource;

// What every data-aware control shares: a data source, a field name, and the
// dataset's signals rebound whenever the source or its dataset changes. A
// control shows the current row's field; an edit reaches the field when the
// control loses the focus or when the dataset asks for pending edits (before a
// post or a move).
class DataLink : public QObject {
    Q_OBJECT
public:
    explicit DataLink(QObject* parent = nullptr);
    void setDataSource(DataSource* source);
    DataSource* dataSource() const { return m_source; }
    Dataset* dataset() const;
    void setDataField(const QString& name) {
        m_field = name;
        emit changed();
    }
    QString dataField() const { return m_field; }
    bool canRead() const;   // dataset open with a current row and the field exists
    bool canWrite() const;  // canRead, and the field is not read-only
    bool editing() const;   // the dataset is in Edit or Insert state
    QVariant value() const; // the field's value, null when it can't be read
    QString text() const;   // the value as a control shows it
    // Puts the dataset into editing (when there is a row to edit).
    void edit();
    // Puts the dataset into editing if needed and writes the field.
    void write(const QVariant& value);

signals:
    void changed();     // the control should show the field anew
    void rowsChanged(); // the dataset's rows are others (a grid shows them anew)
    void stateChanged();
    void updateRequested(); // the control should write its pending edit now

private:
    void rebind();
    QPointer<DataSource> m_source;
    QPointer<Dataset> m_bound;
    QString m_field;
    QVector<QMetaObject::Connection> m_connections;
};

// What a text control remembers of its field: whether the typed text is still
// to be written, whether it is showing the field right now (so its own change
// signal is not taken for typing), and the field's text when last shown.
struct TextEditState {
    bool dirty = false;
    bool showing = false;
    QString shown;
};

// Read-only grid over a data source: whole-row selection, given columns.
// Ctrl+Del asks "Delete record?" (OK/Cancel) and deletes the current row.
// The row indicator, a mark on the current row, is the vertical header
// (verticalHeader()->hide() for a grid without one). The rows and the
// selection follow the dataset at once; repainting and scrolling to the
// current row wait for the event loop, and only the rows that changed are
// repainted.
class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);
    ~DBGrid() override;
    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    // Columns left to right; an empty title shows the field's name.
    void addColumn(const QString& fieldName, const QString& title, int width);
    int columnCount() const;
    QString columnTitle(int column) const;
    QString cellText(int row, int column) const; // row counted from 0 among the rows shown

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Private;
    Private* d;
};

// Single-line edit on a field. maxLength counts characters, or GBK bytes
// when setMaxLengthInGbkBytes(true).
class DBEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit DBEdit(QWidget* parent = nullptr);
    DataLink& link() { return m_link; }
    void setDataSource(DataSource* s) { m_link.setDataSource(s); }
    void setDataField(const QString& f) { m_link.setDataField(f); }
    void setMaxLengthInGbkBytes(bool on) { m_gbkBytes = on; }
    bool maxLengthInGbkBytes() const { return m_gbkBytes; }

signals:
    void exited(); // the edit lost the focus (after its text was written)

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showField();
    void edited();
    void writeBack();
    DataLink m_link;
    bool m_gbkBytes = false;
    TextEditState m_text;
};

// Multi-line edit on a field (read-only or not).
class DBMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit DBMemo(QWidget* parent = nullptr);
    DataLink& link() { return m_link; }
    void setDataSource(DataSource* s) { m_link.setDataSource(s); }
    void setDataField(const QString& f) { m_link.setDataField(f); }

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showField();
    void edited();
    void writeBack();
    DataLink m_link;
    TextEditState m_text;
};

// Radio buttons for the values of a field: item texts, and stored values
// (the item texts themselves when no values are given). No button is
// selected when none matches the field's text exactly.
class DBRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit DBRadioGroup(QWidget* parent = nullptr);
    DataLink& link() { return m_link; }
    void setDataSource(DataSource* s) { m_link.setDataSource(s); }
    void setDataField(const QString& f) { m_link.setDataField(f); }
    void setItems(const QStringList& items, const QStringList& values = {}, int columns = 1);
    int itemIndex() const;        // -1 when none is selected
    void setItemIndex(int index); // as a click on that button
    QRadioButton* button(int index) const;

signals:
    void exited(); // the group lost the focus (after its value was written)

protected:
    void focusOutEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showField();
    void clicked(int index);
    bool leaves(QFocusEvent* event) const;
    DataLink m_link;
    QStringList m_items, m_values;
    QVector<QRadioButton*> m_buttons;
    bool m_showing = false;
};

// Read-only text of a field.
class DBText : public QLabel {
    Q_OBJECT
public:
    explicit DBText(QWidget* parent = nullptr);
    DataLink& link() { return m_link; }
    void setDataSource(DataSource* s) { m_link.setDataSource(s); }
    void setDataField(const QString& f) { m_link.setDataField(f); }

private:
    void showField();
    DataLink m_link;
};

// Record navigator: first, prior, next, last, post, cancel. Enabled states
// follow the dataset; it can be bound to another data source at any time.
class DBNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button { First, Prior, Next, Last, Post, Cancel, ButtonCount };
    explicit DBNavigator(QWidget* parent = nullptr);
    void setDataSource(DataSource* source);
    DataSource* dataSource() const { return m_link.dataSource(); }
    QToolButton* button(Button which) const { return m_buttons[which]; }
    // Hints by button kind in the framework's fixed order: first, prior,
    // next, last, insert, delete, edit, post, cancel, refresh (the kinds not
    // shown take their entries too); an empty entry keeps the default hint.
    void setHints(const QStringList& hints);
    void click(Button which); // as a click on that button (through the guard)

private:
    void updateStates();
    DataLink m_link;
    QToolButton* m_buttons[ButtonCount] = {};
};

} // namespace fw
