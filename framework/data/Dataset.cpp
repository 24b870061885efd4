#include "framework/data/Dataset.h"

#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/RowFilter.h"
#include "framework/data/RowWriter.h"
#include "framework/data/Snapshot.h"
#include "framework/data/SqlSupport.h"

#include <QPointer>
#include <QSqlQuery>

namespace fw {

using detail::Row;

namespace {

bool isNull(const QVariant& v) {
    return !v.isValid() || v.isNull();
}

bool isNumeric(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// Whole-value, case-sensitive equality as a lookup needs it.
bool sameValue(const QVariant& stored, const QVariant& wanted) {
    if (isNull(stored) || isNull(wanted))
        return isNull(stored) && isNull(wanted);
    if (isNumeric(stored)) {
        bool ok = false;
        const double w = wanted.toDouble(&ok);
        return ok && stored.toDouble() == w;
    }
    if (stored.typeId() == QMetaType::QByteArray && wanted.typeId() == QMetaType::QByteArray)
        return stored.toByteArray() == wanted.toByteArray();
    return stored.toString() == wanted.toString();
}

} // namespace

struct Dataset::Private {
    Dataset* q;
    QPointer<Connection> connection;
    QMetaObject::Connection disconnectHook;
    State state = State::Inactive;
    bool deferBlobs = false;
    CursorType cursorType = CursorType::Static;

    detail::Snapshot snapshot;
    std::vector<std::unique_ptr<Field>> fields;
    std::vector<std::unique_ptr<Field>> retired; // fields of earlier openings

    mutable std::vector<Row> rows; // deferred blobs are filled in as they are read
    std::vector<int> visible;      // rows that pass the filter, in order
    int cur = -1;                  // index into visible
    bool bof = true;
    bool eof = true;

    Row backup; // the row as it was when editing began
    QVector<bool> changed;
    bool modified = false;
    int curBeforeInsert = -1;

    // Where each text of one column first stands among the visible rows, so
    // that a lookup by that column finds its row at once; dropped whenever
    // the rows shown or a value of the column may have changed.
    int indexedColumn = -1;
    QHash<QString, int> firstWithText;

    QString filterText;
    RowFilter filter;
    QVector<int> termColumns;
    bool filtered = false;
    bool requestingUpdate = false;

    // PostgreSQL: the connection of this opening, the statements it prepared.
    PGconn* pgConn = nullptr;
    mutable pg::Statements statements;
    detail::WritePlans writePlans;
    // A forward-only opening on PostgreSQL reads its rows one by one; rows
    // then holds only the current one, the position-th.
    bool forwardOnly = false;
    std::unique_ptr<pg::RowReader> reader;
    int position = 0;

    explicit Private(Dataset* owner) : q(owner) {}

    QString named(const QString& message) const {
        const QString name = q->objectName();
        return name.isEmpty() ? message : name + QStringLiteral(": ") + message;
    }
    [[noreturn]] void fail(const QString& message) const { throw Error(named(message)); }

    void requireActive() const {
        if (state == State::Inactive)
            fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
    }
    void requireScrollable() const {
        if (forwardOnly)
            fail(QStringLiteral("Operation is not allowed on a forward-only dataset"));
    }
    bool editing() const { return state == State::Edit || state == State::Insert; }
    Row* current() { return cur >= 0 ? &rows[size_t(visible[size_t(cur)])] : nullptr; }
    // Where a row numbered like recNo is among the visible ones, or -1.
    int visibleIndex(int recNo) const {
        if (state == State::Inactive)
            return -1;
        if (reader)
            return recNo == position && cur >= 0 ? 0 : -1;
        return recNo >= 1 && recNo <= int(visible.size()) ? recNo - 1 : -1;
    }
    void checkColumn(int fieldIndex) const {
        if (fieldIndex < 0 || fieldIndex >= snapshot.width())
            fail(QStringLiteral("Field index %1 out of range").arg(fieldIndex));
    }

    void openPostgres(QSqlDatabase db, const QString& text, const Parameters* parameters);
    void openOther(QSqlDatabase db, const QString& text, const Parameters* parameters);
    void readNext();
    void release();

    QVariant resolved(size_t row, int column) const;
    void resolveFilter(const RowFilter& wanted, QVector<int>& resolved) const;
    bool passes(size_t row) const;
    void rebuildVisible();
    void applyFilter();

    QString textAt(const Row& row, int column) const;
    const QHash<QString, int>& textIndex(int column);
    void dropIndex() {
        indexedColumn = -1;
        firstWithText.clear();
    }

    void checkBrowseMode();
    void dropEdit();
    void endEdit();
    void moved(bool rowChanged);
    void step(int by);
    void removeRow(int visibleIndex);
    detail::RowWriter writer() {
        return detail::RowWriter(snapshot, *connection, statements, writePlans, q->objectName());
    }
};

// ---------------------------------------------------------------- opening

void Dataset::Private::openPostgres(QSqlDatabase db, const QString& text,
                                    const Parameters* parameters) {
    pgConn = pg::connectionOf(db);
    detail::Statement statement;
    statement.text = parameters ? numberedParameters(text) : text;
    if (parameters) {
        for (const QString& name : parameterNames(text)) {
            const int i = parameters->indexOf(name);
            if (i < 0)
                fail(QStringLiteral("Parameter '%1' not found").arg(name));
            statement.values.add(parameters->boundValue(i));
        }
    }
    statement.deferBlobs = deferBlobs && !forwardOnly;
    const bool binary = detail::describe(pgConn, statement, snapshot);
    if (snapshot.width() == 0)
        fail(QStringLiteral("The statement returns no rows to open"));
    if (!forwardOnly) {
        detail::loadRows(pgConn, statement, binary, snapshot, rows);
        return;
    }
    reader = std::make_unique<pg::RowReader>(pgConn, statement.text, statement.values, binary);
    snapshot.setSource(&reader->current(), binary);
    rows.push_back(Row{0, {}});
    readNext();
}

void Dataset::Private::openOther(QSqlDatabase db, const QString& text,
                                 const Parameters* parameters) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    sql::prepare(query, text);
    if (parameters)
        for (int i = 0; i < parameters->count(); ++i)
            query.bindValue(':' + parameters->at(i).name(), parameters->boundValue(i));
    sql::exec(query);
    if (!query.isSelect())
        fail(QStringLiteral("The statement returns no rows to open"));
    detail::loadQt(query, q->defaultUpdateTable(), snapshot, rows);
}

// The next row of a forward-only opening: the one row stands for it, and
// its values stay in the reader's result until they are read.
void Dataset::Private::readNext() {
    if (reader->next())
        ++position;
}

// What an opening holds on the connection: the statements it prepared, a
// reading still under way.
void Dataset::Private::release() {
    reader.reset();
    const bool open = connection && connection->connected();
    statements.clear(open ? pgConn : nullptr);
    writePlans.clear();
    pgConn = nullptr;
}

// A cell's value, a deferred blob fetched (and kept) on the way.
QVariant Dataset::Private::resolved(size_t row, int column) const {
    Row& r = rows[row];
    const QVariant v = snapshot.value(r, column);
    if (!detail::isBlobRef(v))
        return v;
    // A key changed in the edit under way is still the old one in the table.
    const bool edited = state == State::Edit && cur >= 0 && size_t(visible[size_t(cur)]) == row;
    const QVariant blob =
        detail::fetchBlob(pgConn, statements, snapshot, edited ? backup : r, column);
    snapshot.hold(r);
    r.cells[column] = blob;
    return blob;
}

// ---------------------------------------------------------------- filter

void Dataset::Private::resolveFilter(const RowFilter& wanted, QVector<int>& resolvedTerms) const {
    resolvedTerms.clear();
    for (const RowFilter::Term& t : wanted.terms()) {
        const int i = snapshot.columnIndex(t.column);
        if (i < 0)
            fail(QStringLiteral("Field '%1' not found").arg(t.column));
        resolvedTerms << i;
    }
}

bool Dataset::Private::passes(size_t row) const {
    if (!filtered)
        return true;
    return filter.passes([&](int k) { return resolved(row, termColumns[k]); });
}

void Dataset::Private::rebuildVisible() {
    dropIndex();
    visible.clear();
    for (size_t i = 0; i < rows.size(); ++i)
        if (passes(i))
            visible.push_back(int(i));
}

void Dataset::Private::applyFilter() {
    rebuildVisible();
    cur = visible.empty() ? -1 : 0;
    bof = true;
    eof = visible.empty();
    emit q->dataChanged();
    emit q->rowsChanged();
    moved(true);
}

// ---------------------------------------------------------------- editing

void Dataset::Private::moved(bool rowChanged) {
    if (rowChanged)
        emit q->recordChanged();
    if (cur >= 0)
        emit q->afterScroll();
}

// One row on or back; past either end the position stays and eof or bof is set.
void Dataset::Private::step(int by) {
    requireActive();
    if (by < 0)
        requireScrollable();
    checkBrowseMode();
    if (reader) {
        const int before = position;
        readNext();
        if (position != before) {
            bof = eof = false;
            moved(true);
        } else {
            eof = true;
            moved(false);
        }
        return;
    }
    const int to = cur + by;
    if (to >= 0 && to < int(visible.size())) {
        cur = to;
        bof = eof = false;
        moved(true);
    } else {
        (by < 0 ? bof : eof) = true;
        moved(false);
    }
}

void Dataset::Private::endEdit() {
    state = State::Browse;
    backup = Row();
    changed.clear();
    modified = false;
    emit q->stateChanged();
}

void Dataset::Private::dropEdit() {
    if (state == State::Insert) {
        const int back = curBeforeInsert;
        removeRow(cur);
        cur = visible.empty() ? -1 : qBound(0, back, int(visible.size()) - 1);
        endEdit();
        emit q->dataChanged();
        emit q->rowsChanged();
        moved(true);
        return;
    }
    if (Row* row = current())
        *row = backup;
    endEdit();
    emit q->dataChanged();
    emit q->recordChanged();
}

void Dataset::Private::checkBrowseMode() {
    q->updateRecord();
    if (!editing())
        return;
    if (modified)
        q->post();
    else
        dropEdit();
}

// A text column's value; a null text for null.
QString Dataset::Private::textAt(const Row& row, int column) const {
    if (!row.held()) {
        if (snapshot.isNull(row, column))
            return QString();
        const QByteArrayView bytes = snapshot.sourceBytes(row, column);
        return QString::fromUtf8(bytes.data(), bytes.size());
    }
    const QVariant& cell = row.cells[column];
    return cell.typeId() == QMetaType::QString ? cell.toString() : QString();
}

const QHash<QString, int>& Dataset::Private::textIndex(int column) {
    if (indexedColumn == column)
        return firstWithText;
    dropIndex();
    firstWithText.reserve(qsizetype(visible.size()));
    for (size_t k = 0; k < visible.size(); ++k) {
        const QString text = textAt(rows[size_t(visible[k])], column);
        if (!text.isNull() && !firstWithText.contains(text))
            firstWithText.insert(text, int(k));
    }
    indexedColumn = column;
    return firstWithText;
}

void Dataset::Private::removeRow(int visibleIndex) {
    dropIndex();
    const int r = visible[size_t(visibleIndex)];
    rows.erase(rows.begin() + r);
    visible.erase(visible.begin() + visibleIndex);
    for (int& v : visible)
        if (v > r)
            --v;
}

// ---------------------------------------------------------------- Dataset

Dataset::Dataset(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

Dataset::~Dataset() {
    if (active())
        d->release();
}

void Dataset::setConnection(Connection* connection) {
    if (d->connection == connection)
        return;
    close();
    disconnect(d->disconnectHook);
    d->connection = connection;
    if (connection)
        d->disconnectHook =
            connect(connection, &Connection::beforeDisconnect, this, [this] { close(); });
}

Connection* Dataset::connection() const {
    return d->connection;
}

void Dataset::setBlobsDeferred(bool on) {
    d->deferBlobs = on;
}

bool Dataset::blobsDeferred() const {
    return d->deferBlobs;
}

void Dataset::setCursorType(CursorType type) {
    d->cursorType = type;
}

Dataset::CursorType Dataset::cursorType() const {
    return d->cursorType;
}

void Dataset::open() {
    if (active())
        return;
    if (!d->connection)
        d->fail(QStringLiteral("Missing Connection or ConnectionString"));
    const QString text = selectStatement();
    if (text.trimmed().isEmpty())
        d->fail(QStringLiteral("No SQL statement to open"));
    QSqlDatabase db = d->connection->database();
    d->forwardOnly = d->cursorType == CursorType::ForwardOnly;
    if (d->forwardOnly && d->filtered)
        d->fail(QStringLiteral("A forward-only dataset cannot be filtered"));
    d->rows.clear();
    d->position = 0;
    for (auto& f : d->fields)
        d->retired.push_back(std::move(f));
    d->fields.clear();
    try {
        if (d->connection->kind() == Connection::Kind::PostgreSql)
            d->openPostgres(db, text, statementParameters());
        else
            d->openOther(db, text, statementParameters());
        if (d->filtered)
            d->resolveFilter(d->filter, d->termColumns);
    } catch (...) {
        d->rows.clear();
        d->snapshot.clear();
        d->release();
        throw;
    }
    if (d->forwardOnly)
        for (detail::Column& c : d->snapshot.columns)
            c.readOnly = true;
    for (int i = 0; i < d->snapshot.width(); ++i) {
        const detail::Column& c = d->snapshot.columns[i];
        d->fields.push_back(std::make_unique<Field>(this, i, c.name, c.type, c.size));
    }
    if (d->reader) {
        d->visible.assign(1, 0);
        d->cur = d->position > 0 ? 0 : -1;
        if (d->cur < 0)
            d->visible.clear();
    } else {
        d->rebuildVisible();
        d->cur = d->visible.empty() ? -1 : 0;
    }
    d->bof = true;
    d->eof = d->visible.empty();
    d->state = State::Browse;
    emit stateChanged();
    emit dataChanged();
    emit rowsChanged();
    emit afterOpen();
    d->moved(true);
}

void Dataset::close() {
    if (!active())
        return;
    d->release();
    d->dropIndex();
    d->state = State::Inactive;
    d->backup = Row();
    d->changed.clear();
    d->modified = false;
    d->rows.clear();
    d->visible.clear();
    d->cur = -1;
    d->position = 0;
    d->bof = d->eof = true;
    for (auto& f : d->fields)
        d->retired.push_back(std::move(f));
    d->fields.clear();
    d->snapshot.clear();
    emit stateChanged();
    emit dataChanged();
    emit rowsChanged();
    emit recordChanged();
    emit afterClose();
}

bool Dataset::active() const {
    return d->state != State::Inactive;
}

void Dataset::setActive(bool on) {
    if (on)
        open();
    else
        close();
}

Dataset::State Dataset::state() const {
    return d->state;
}

bool Dataset::editing() const {
    return d->editing();
}

void Dataset::first() {
    d->requireActive();
    if (d->reader && d->position > 1)
        d->requireScrollable();
    d->checkBrowseMode();
    const int before = d->cur;
    d->cur = d->visible.empty() ? -1 : 0;
    d->bof = true;
    d->eof = d->visible.empty();
    d->moved(before != d->cur);
}

void Dataset::prior() {
    d->step(-1);
}

void Dataset::next() {
    d->step(1);
}

void Dataset::last() {
    d->requireActive();
    d->requireScrollable();
    d->checkBrowseMode();
    const int before = d->cur;
    d->cur = int(d->visible.size()) - 1;
    d->eof = true;
    d->bof = d->visible.empty();
    d->moved(before != d->cur);
}

bool Dataset::eof() const {
    return d->eof;
}

bool Dataset::bof() const {
    return d->bof;
}

bool Dataset::isEmpty() const {
    return d->visible.empty();
}

int Dataset::recordCount() const {
    d->requireActive();
    return d->forwardOnly ? -1 : int(d->visible.size());
}

int Dataset::recNo() const {
    return d->reader ? d->position : d->cur + 1;
}

void Dataset::setRecNo(int recNo) {
    d->requireActive();
    if (recNo == this->recNo() && !d->editing())
        return;
    d->requireScrollable();
    d->checkBrowseMode();
    if (recNo < 1 || recNo > int(d->visible.size()))
        d->fail(QStringLiteral("Record number %1 is out of range").arg(recNo));
    const int before = d->cur;
    d->cur = recNo - 1;
    d->bof = d->eof = false;
    d->moved(before != d->cur);
}

int Dataset::fieldCount() const {
    return int(d->fields.size());
}

Field& Dataset::field(int index) {
    d->requireActive();
    if (index < 0 || size_t(index) >= d->fields.size())
        d->fail(QStringLiteral("Field index %1 out of range").arg(index));
    return *d->fields[size_t(index)];
}

Field& Dataset::fieldByName(const QString& name) {
    d->requireActive();
    Field* f = findField(name);
    if (!f)
        d->fail(QStringLiteral("Field '%1' not found").arg(name));
    return *f;
}

Field* Dataset::findField(const QString& name) {
    if (!active())
        return nullptr;
    const int i = d->snapshot.columnIndex(name);
    return i < 0 ? nullptr : d->fields[size_t(i)].get();
}

void Dataset::edit() {
    d->requireActive();
    d->requireScrollable();
    if (d->editing())
        return;
    if (d->visible.empty()) {
        append();
        return;
    }
    d->backup = *d->current();
    d->changed = QVector<bool>(d->snapshot.width(), false);
    d->modified = false;
    d->state = State::Edit;
    emit stateChanged();
}

void Dataset::append() {
    d->requireActive();
    d->requireScrollable();
    d->checkBrowseMode();
    d->dropIndex();
    d->rows.push_back(d->snapshot.heldRow());
    d->visible.push_back(int(d->rows.size()) - 1);
    d->curBeforeInsert = d->cur;
    d->cur = int(d->visible.size()) - 1;
    d->bof = d->eof = false;
    d->changed = QVector<bool>(d->snapshot.width(), false);
    d->modified = false;
    d->state = State::Insert;
    emit stateChanged();
    emit rowsChanged();
    d->moved(true);
}

void Dataset::post() {
    d->requireActive();
    updateRecord();
    if (!d->editing())
        d->fail(QStringLiteral("Dataset not in edit or insert mode"));
    Row& row = *d->current();
    const int indexed = d->indexedColumn;
    const QString before = indexed >= 0 ? d->textAt(row, indexed) : QString();
    if (d->state == State::Insert)
        d->writer().insert(row, d->changed);
    else
        d->writer().update(row, d->backup, d->changed);
    if (indexed >= 0 && d->textAt(row, indexed) != before) // the database changed it
        d->dropIndex();
    d->endEdit();
    emit recordChanged();
    emit dataChanged();
    emit afterPost();
}

void Dataset::cancel() {
    d->requireActive();
    if (d->editing())
        d->dropEdit();
}

void Dataset::deleteRecord() {
    d->requireActive();
    d->requireScrollable();
    if (d->state == State::Insert) {
        d->dropEdit();
        return;
    }
    if (d->visible.empty())
        d->fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    if (d->state == State::Edit)
        d->dropEdit();
    d->writer().remove(*d->current());
    d->removeRow(d->cur);
    if (d->cur >= int(d->visible.size()))
        d->cur = int(d->visible.size()) - 1;
    d->bof = d->eof = d->visible.empty();
    emit dataChanged();
    emit rowsChanged();
    d->moved(true);
}

bool Dataset::modified() const {
    return d->editing() && d->modified;
}

bool Dataset::locate(const QString& fieldName, const QVariant& value) {
    d->requireActive();
    d->requireScrollable();
    const int column = d->snapshot.columnIndex(fieldName);
    if (column < 0)
        d->fail(QStringLiteral("Field '%1' not found").arg(fieldName));
    d->checkBrowseMode();
    int found = -1;
    if (value.typeId() == QMetaType::QString && pg::isText(d->snapshot.columns[column].pgType)) {
        found = d->textIndex(column).value(value.toString(), -1);
    } else {
        for (size_t k = 0; k < d->visible.size() && found < 0; ++k)
            if (sameValue(d->resolved(size_t(d->visible[k]), column), value))
                found = int(k);
    }
    if (found < 0)
        return false;
    const int before = d->cur;
    d->cur = found;
    d->bof = d->eof = false;
    d->moved(before != d->cur);
    return true;
}

void Dataset::setFilter(const QString& expression) {
    const RowFilter parsed = RowFilter::parse(expression);
    if (active() && d->filtered) {
        QVector<int> resolved;
        d->resolveFilter(parsed, resolved);
        d->checkBrowseMode();
        d->termColumns = resolved;
    }
    d->filterText = expression;
    d->filter = parsed;
    if (active() && d->filtered)
        d->applyFilter();
}

QString Dataset::filter() const {
    return d->filterText;
}

void Dataset::setFiltered(bool on) {
    if (active()) {
        if (on) {
            d->requireScrollable();
            d->resolveFilter(d->filter, d->termColumns);
        }
        d->checkBrowseMode();
    }
    d->filtered = on;
    if (active())
        d->applyFilter();
}

bool Dataset::filtered() const {
    return d->filtered;
}

QVariant Dataset::rowValue(int fieldIndex) const {
    d->requireActive();
    d->checkColumn(fieldIndex);
    if (d->cur < 0)
        return QVariant();
    return d->resolved(size_t(d->visible[size_t(d->cur)]), fieldIndex);
}

QVariant Dataset::valueAt(int recNo, int fieldIndex) const {
    const int at = d->visibleIndex(recNo);
    if (at < 0 || fieldIndex < 0 || fieldIndex >= d->snapshot.width())
        return QVariant();
    return d->resolved(size_t(d->visible[size_t(at)]), fieldIndex);
}

bool Dataset::isNullAt(int recNo, int fieldIndex) const {
    const int at = d->visibleIndex(recNo);
    if (at < 0 || fieldIndex < 0 || fieldIndex >= d->snapshot.width())
        return true;
    return d->snapshot.isNull(d->rows[size_t(d->visible[size_t(at)])], fieldIndex);
}

void Dataset::setRowValue(int fieldIndex, const QVariant& value) {
    d->requireActive();
    d->checkColumn(fieldIndex);
    if (!d->editing())
        d->fail(QStringLiteral("Dataset not in edit or insert mode"));
    const detail::Column& c = d->snapshot.columns[fieldIndex];
    if (c.readOnly)
        d->fail(QStringLiteral("Field '%1' cannot be modified").arg(c.name));
    const QVariant coerced = sql::coerce(value, c.type, QStringLiteral("field '%1'").arg(c.name));
    if (fieldIndex == d->indexedColumn)
        d->dropIndex();
    Row& row = *d->current();
    d->snapshot.hold(row);
    row.cells[fieldIndex] = coerced;
    d->changed[fieldIndex] = true;
    d->modified = true;
    emit recordChanged();
}

void Dataset::updateRecord() {
    if (d->requestingUpdate || !active())
        return;
    d->requestingUpdate = true;
    try {
        emit updateRecordRequested();
    } catch (...) {
        d->requestingUpdate = false;
        throw;
    }
    d->requestingUpdate = false;
}

// ---------------------------------------------------------------- for fields

void Dataset::checkField(const Field* field) const {
    d->requireActive();
    const int i = field->index();
    if (i < 0 || size_t(i) >= d->fields.size() || d->fields[size_t(i)].get() != field)
        d->fail(
            QStringLiteral("Field '%1' is no longer part of the dataset").arg(field->fieldName()));
}

bool Dataset::fieldReadOnly(const Field* field) const {
    const int i = field->index();
    if (i < 0 || size_t(i) >= d->fields.size() || d->fields[size_t(i)].get() != field)
        return true;
    return d->snapshot.columns[i].readOnly;
}

bool Dataset::fieldIsNull(int index) const {
    return isNullAt(recNo(), index);
}

QByteArrayView Dataset::fieldBytes(int index, QByteArray& holder) const {
    if (d->cur < 0)
        return QByteArrayView();
    // Bytes the row does not hold yet go from the result as they are.
    const Row& row = d->rows[size_t(d->visible[size_t(d->cur)])];
    const detail::Column& c = d->snapshot.columns[index];
    if (!row.held() && c.pgType == pg::ByteaOid && !c.deferred)
        return d->snapshot.sourceBytes(row, index);
    const QVariant v = rowValue(index);
    if (isNull(v))
        return QByteArrayView();
    holder = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    return holder;
}

} // namespace fw
