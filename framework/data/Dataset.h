#pragma once

#include "framework/data/Field.h"
#include "framework/data/Parameters.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>

namespace fw {

class Connection;

// A dataset opens as a snapshot held in memory (a static cursor: it sees its
// own writes at once, nobody else's). Rows are numbered from 1 (recNo); field
// names are matched without regard to case. Post writes the changed columns of
// the current row back to the table that the columns come from, by its key.
//
// Two ways to open that save memory and time where blobs are large:
// - setBlobsDeferred(true) before open: the blob columns of a table whose key
//   is among the columns are not read at open; a row's blob is fetched from
//   the database at the first read of that field (so it shows the blob as it
//   is then). Whether it is null is known at open.
// - setCursorType(CursorType::ForwardOnly) before open: the rows are read
//   one at a time as next() reaches them, only the current one is held, and
//   the dataset is read-only. Only next() moves; recordCount() is -1. While
//   such a dataset is open and not at its end, its connection runs nothing
//   else; close() ends the reading early. (On a file database all rows are
//   read at open; the rules are the same.)
class Dataset : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };
    enum class CursorType { Static, ForwardOnly };

    explicit Dataset(QObject* parent = nullptr);
    ~Dataset() override;

    void setConnection(Connection* connection);
    Connection* connection() const;

    void open();
    void close();
    bool active() const;
    void setActive(bool on);
    State state() const;
    bool editing() const; // in Edit or Insert state

    // Both take effect at the next open.
    void setBlobsDeferred(bool on);
    bool blobsDeferred() const;
    void setCursorType(CursorType type);
    CursorType cursorType() const;

    // Navigation over the rows that pass the filter. first/next/... post a
    // modified row first and drop an unchanged edit; afterScroll follows each.
    void first();
    void prior();
    void next();
    void last();
    bool eof() const;
    bool bof() const;
    bool isEmpty() const;
    int recordCount() const;
    int recNo() const; // 1-based; 0 when there is no current row
    void setRecNo(int recNo);

    int fieldCount() const;
    Field& field(int index);
    Field& fieldByName(const QString& name); // raises for an unknown name
    Field* findField(const QString& name);   // nullptr for an unknown name

    void edit();
    void append();
    void insert() { append(); }
    void post(); // a refusal by the database raises; the row stays in editing
    void cancel();
    void deleteRecord();
    bool modified() const;

    // Moves to the first row whose field equals value as a whole (exact,
    // case-sensitive); returns false and stays when none does.
    bool locate(const QString& fieldName, const QVariant& value);

    // A row filter of the form  col='text' or col='text' ...  (quotes inside
    // a text doubled); comparisons ignore case, like the catalog's collation.
    void setFilter(const QString& expression); // raises for an expression it cannot read
    QString filter() const;
    void setFiltered(bool on);
    bool filtered() const;

    // Used by fields and data-aware controls.
    QVariant rowValue(int fieldIndex) const;
    // The value in another row (1-based like recNo, among the rows that pass
    // the filter) without moving there: what a grid paints. Null out of range.
    QVariant valueAt(int recNo, int fieldIndex) const;
    // Whether that value is null, without fetching a deferred blob.
    bool isNullAt(int recNo, int fieldIndex) const;
    void setRowValue(int fieldIndex, const QVariant& value);
    void updateRecord(); // asks bound controls to push pending edits

signals:
    void afterOpen();
    void afterClose();
    void afterScroll();
    void afterPost();
    void stateChanged();
    void recordChanged();         // the current row or one of its values changed
    void dataChanged();           // rows were loaded, filtered, posted or deleted
    void rowsChanged();           // the rows shown are others: opened, closed,
                                  // filtered, appended or deleted
    void updateRecordRequested(); // bound controls write their edits now

protected:
    // The statement to open and its ":name" parameters; the table whose rows
    // post writes to when a result column doesn't say.
    virtual QString selectStatement() const = 0;
    virtual const Parameters* statementParameters() const { return nullptr; }
    virtual QString defaultUpdateTable() const { return QString(); }

private:
    // For the fields: whether the field is one of this opening's (else an
    // error names it), read-only, null; its bytes for a file, without a copy
    // where the row holds them as bytes (holder keeps any other form).
    friend class Field;
    void checkField(const Field* field) const;
    bool fieldReadOnly(const Field* field) const;
    bool fieldIsNull(int index) const;
    QByteArrayView fieldBytes(int index, QByteArray& holder) const;

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace fw
