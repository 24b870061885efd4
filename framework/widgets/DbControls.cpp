#include "framework/widgets/DbControls.h"

#include "framework/core/Gbk.h"
#include "framework/data/Dataset.h"
#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Guard.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QValidator>

namespace fw {
namespace {

using State = Dataset::State;

// How a control shows a value: bytes as a marker, everything else as the
// field's text.
QString displayText(const QVariant& value, DataType type) {
    if (type == DataType::Blob && !value.isNull())
        return QStringLiteral("(BLOB)");
    return valueText(value);
}

// A focus change that leaves the control for another one of the window; the
// window itself losing activation (a box opening) is not one.
bool movesToAnotherControl(const QFocusEvent* event) {
    return event->reason() != Qt::ActiveWindowFocusReason &&
           event->reason() != Qt::PopupFocusReason;
}

QString textOf(const QLineEdit* e) {
    return e->text();
}
QString textOf(const QPlainTextEdit* e) {
    return e->toPlainText();
}
void putText(QLineEdit* e, const QString& t) {
    e->setText(t);
}
void putText(QPlainTextEdit* e, const QString& t) {
    e->setPlainText(t);
}

// The rules that the text controls share. A pending edit is the text typed
// since the field was last shown; it survives a change of another field of
// the row (the field itself still holds what was shown) and is dropped when
// the row moves, is cancelled or the field changes under it.
template <class Control> struct TextBinding {
    Control* control;
    DataLink& link;
    TextEditState& state;

    void put(const QString& text) {
        state.showing = true;
        putText(control, text);
        state.showing = false;
    }

    void show() {
        const QString now = link.text();
        if (state.dirty && link.editing() && now == state.shown)
            return;
        state.dirty = false;
        state.shown = now;
        if (textOf(control) != now)
            put(now);
    }

    // Typing puts the row into editing; with nothing to edit the typed text
    // goes back to what the field holds.
    void typed() {
        if (state.showing)
            return;
        state.dirty = link.canWrite(); // before edit(): its signals must keep the text
        if (state.dirty && !guard([&] { link.edit(); }))
            state.dirty = false;
        if (!state.dirty)
            put(state.shown);
    }

    void writeBack() {
        if (!state.dirty)
            return;
        const QString text = textOf(control);
        link.write(text);
        state.dirty = false;
        state.shown = text;
    }

    // The focus left for another control: the edit goes to the field.
    bool leave(QFocusEvent* event) {
        return movesToAnotherControl(event) && guard([this] { writeBack(); });
    }
};

} // namespace

// ---------------------------------------------------------------------------
// DataLink

DataLink::DataLink(QObject* parent) : QObject(parent) {}

void DataLink::setDataSource(DataSource* source) {
    if (m_source == source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source) {
        connect(source, &DataSource::dataSetChanged, this, &DataLink::rebind);
        connect(source, &QObject::destroyed, this, &DataLink::rebind);
    }
    rebind();
}

Dataset* DataLink::dataset() const {
    return m_source ? m_source->dataSet() : nullptr;
}

void DataLink::rebind() {
    for (const auto& c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_bound = dataset();
    if (Dataset* ds = m_bound) {
        for (auto signal : {&Dataset::afterOpen, &Dataset::afterClose, &Dataset::afterScroll,
                            &Dataset::recordChanged, &Dataset::dataChanged})
            m_connections << connect(ds, signal, this, &DataLink::changed);
        m_connections << connect(ds, &Dataset::stateChanged, this, [this] {
            emit stateChanged();
            emit changed();
        });
        m_connections << connect(ds, &Dataset::rowsChanged, this, &DataLink::rowsChanged);
        m_connections << connect(ds, &Dataset::updateRecordRequested, this,
                                 &DataLink::updateRequested);
        m_connections << connect(ds, &QObject::destroyed, this, &DataLink::rebind);
    }
    emit stateChanged();
    emit rowsChanged();
    emit changed();
}

bool DataLink::canRead() const {
    Dataset* ds = m_bound;
    if (!ds || !ds->active() || m_field.isEmpty() || !ds->findField(m_field))
        return false;
    return ds->state() == State::Insert || ds->recNo() > 0;
}

bool DataLink::canWrite() const {
    return canRead() && !m_bound->findField(m_field)->readOnly();
}

bool DataLink::editing() const {
    Dataset* ds = m_bound;
    return ds && ds->editing();
}

QVariant DataLink::value() const {
    return canRead() ? m_bound->findField(m_field)->value() : QVariant();
}

QString DataLink::text() const {
    if (!canRead())
        return QString();
    const Field* f = m_bound->findField(m_field);
    if (f->dataType() == DataType::Blob) // a deferred blob is not fetched for its mark
        return f->isNull() ? QString() : QStringLiteral("(BLOB)");
    return displayText(f->value(), f->dataType());
}

void DataLink::edit() {
    if (canRead() && !editing())
        m_bound->edit();
}

void DataLink::write(const QVariant& value) {
    if (!canWrite())
        return;
    edit();
    m_bound->findField(m_field)->setValue(value);
}

// ---------------------------------------------------------------------------
// DBGrid

namespace {

struct Column {
    QString field, title;
};

// The grid's rows: every cell is read from the dataset when it is painted.
class GridModel : public QAbstractTableModel {
public:
    DataLink link;
    QVector<Column> columns;
    int rows = 0;

    Dataset* openDataset() const {
        Dataset* ds = link.dataset();
        return ds && ds->active() ? ds : nullptr;
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : rows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(columns.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return QVariant();
        return cellText(index.row(), index.column());
    }

    QString cellText(int row, int column) const {
        Dataset* ds = openDataset();
        Field* f = ds && column >= 0 && column < columns.size()
                       ? ds->findField(columns[column].field)
                       : nullptr;
        if (!f || row < 0 || row >= rows)
            return QString();
        if (f->dataType() == DataType::Blob) // a deferred blob is not fetched for its mark
            return ds->isNullAt(row + 1, f->index()) ? QString() : QStringLiteral("(BLOB)");
        return displayText(ds->valueAt(row + 1, f->index()), f->dataType());
    }

    // The row indicator paints the mark of the current row itself.
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section >= columns.size())
            return QVariant();
        return title(section);
    }

    QString title(int column) const {
        const Column& c = columns[column];
        return c.title.isEmpty() ? c.field : c.title;
    }

    // The rows anew when their number changed; true when it did.
    bool countRows() {
        Dataset* ds = openDataset();
        const int now = ds ? std::max(0, ds->recordCount()) : 0;
        if (now == rows)
            return false;
        beginResetModel();
        rows = now;
        endResetModel();
        return true;
    }

    void addColumn(const Column& c) {
        beginInsertColumns(QModelIndex(), int(columns.size()), int(columns.size()));
        columns << c;
        endInsertColumns();
    }
};

// The vertical header as the row indicator: it marks the current row
// itself, so that a move repaints two sections and changes no header data
// (which would have the view measure every header again).
class RowIndicator : public QHeaderView {
public:
    explicit RowIndicator(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}
    int marked = -1; // the section that carries the mark
    using QHeaderView::updateSection;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        if (logicalIndex != marked)
            return;
        painter->save();
        painter->setPen(palette().color(QPalette::ButtonText));
        painter->drawText(rect, Qt::AlignCenter, mark());
        painter->restore();
    }
    // Every section holds the mark or nothing: one size for all.
    QSize sectionSizeFromContents(int) const override {
        const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
        return QSize(fontMetrics().horizontalAdvance(mark()) + 4 * margin, defaultSectionSize());
    }

private:
    static QString mark() { return QStringLiteral("\u25B6"); }
};

} // namespace

// The grid follows its dataset without standing in the way of the work that
// changes it: a change of the rows resets them, every other signal only notes
// which rows to repaint, and the repaint (with the scroll to the current row)
// comes once, when the event loop next turns.
struct DBGrid::Private {
    GridModel model;
    RowIndicator* indicator = nullptr;
    bool syncing = false;
    QVector<int> dirty;
    bool allDirty = false;
    bool repaintQueued = false;
    bool scrollPending = false;
    int shownRow = -1; // the row the selection was last put on, by the grid or the user

    void markRow(int row) {
        if (row >= 0 && !dirty.contains(row))
            dirty << row;
    }

    // The dataset's current row becomes the grid's selected one.
    void selectCurrentRow(QTableView* view) {
        Dataset* ds = model.openDataset();
        const int row = ds ? ds->recNo() - 1 : -1;
        syncing = true;
        shownRow = row;
        if (row >= 0 && row < model.rows && !model.columns.isEmpty()) {
            const QModelIndex at = model.index(row, 0);
            view->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
            scrollPending = true; // with the repaint: only the last move of a burst counts
        } else {
            view->selectionModel()->clear();
        }
        syncing = false;
    }

    // After any signal of the dataset: rows anew if their number changed, the
    // selection and the mark on the current row, its values repainted.
    void follow(DBGrid* grid) {
        if (model.countRows()) {
            allDirty = true;
            shownRow = -2; // the reset cleared the selection
        }
        Dataset* ds = model.openDataset();
        const int row = ds ? ds->recNo() - 1 : -1;
        if (row != shownRow)
            selectCurrentRow(grid);
        if (indicator->marked != row) {
            markRow(indicator->marked);
            indicator->marked = row;
        }
        markRow(row);
        queueRepaint(grid);
    }

    // Other rows than before: every row is repainted.
    void rowsChanged(DBGrid* grid) {
        allDirty = true;
        follow(grid);
    }

    void queueRepaint(DBGrid* grid) {
        if (std::exchange(repaintQueued, true))
            return;
        QMetaObject::invokeMethod(
            grid, [this, grid] { repaint(grid); }, Qt::QueuedConnection);
    }

    void repaint(DBGrid* grid) {
        repaintQueued = false;
        if (std::exchange(scrollPending, false)) {
            const QModelIndex current = grid->currentIndex();
            if (current.isValid())
                grid->scrollTo(current);
        }
        if (allDirty) {
            grid->viewport()->update();
            indicator->viewport()->update();
        } else {
            for (int row : std::as_const(dirty)) {
                if (row >= model.rows)
                    continue;
                grid->viewport()->update(QRect(0, grid->rowViewportPosition(row),
                                               grid->viewport()->width(), grid->rowHeight(row)));
                indicator->updateSection(row);
            }
        }
        dirty.clear();
        allDirty = false;
    }
};

DBGrid::DBGrid(QWidget* parent) : QTableView(parent), d(new Private) {
    d->indicator = new RowIndicator(this);
    setVerticalHeader(d->indicator);
    setModel(&d->model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The selection stays visible while the grid has no focus.
    QPalette p = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
    setPalette(p);

    connect(&d->model.link, &DataLink::changed, this, [this] { d->follow(this); });
    connect(&d->model.link, &DataLink::rowsChanged, this, [this] { d->rowsChanged(this); });
    // The view would scroll at every change of its current row; the grid
    // scrolls itself: at once for a move of the user's, with the repaint for
    // one of the dataset's.
    setAutoScroll(false);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (d->syncing || !current.isValid())
                    return;
                d->shownRow = current.row();
                scrollTo(current);
                Dataset* ds = d->model.openDataset();
                if (!ds || ds->recNo() == current.row() + 1)
                    return;
                if (!guard([&] { ds->setRecNo(current.row() + 1); })) // back to its row
                    QMetaObject::invokeMethod(&d->model.link, &DataLink::changed,
                                              Qt::QueuedConnection);
            });
}

DBGrid::~DBGrid() {
    setModel(nullptr);
    delete d;
}

void DBGrid::setDataSource(DataSource* source) {
    d->model.link.setDataSource(source);
}

DataSource* DBGrid::dataSource() const {
    return d->model.link.dataSource();
}

void DBGrid::addColumn(const QString& fieldName, const QString& title, int width) {
    d->model.addColumn({fieldName, title});
    setColumnWidth(int(d->model.columns.size()) - 1, width);
    d->selectCurrentRow(this);
    d->queueRepaint(this);
}

int DBGrid::columnCount() const {
    return int(d->model.columns.size());
}

QString DBGrid::columnTitle(int column) const {
    return column >= 0 && column < d->model.columns.size() ? d->model.title(column) : QString();
}

QString DBGrid::cellText(int row, int column) const {
    return d->model.cellText(row, column);
}

void DBGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
        guard([this] {
            Dataset* ds = d->model.openDataset();
            if (!ds || ds->isEmpty())
                return;
            if (dialogs().messageDlg(QStringLiteral("Delete record?"), MsgDlgType::Confirmation,
                                     MsgDlgButtons::OkCancel) != mrCancel)
                ds->deleteRecord();
        });
        return;
    }
    QTableView::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// DBEdit

namespace {

// Refuses a text whose GBK form is longer than the edit's maximum length,
// when the edit counts its length in bytes.
class GbkLengthValidator : public QValidator {
public:
    explicit GbkLengthValidator(DBEdit* edit) : QValidator(edit), m_edit(edit) {}
    State validate(QString& input, int&) const override {
        if (!m_edit->maxLengthInGbkBytes())
            return Acceptable;
        return gbkLength(input) <= m_edit->maxLength() ? Acceptable : Invalid;
    }

private:
    DBEdit* m_edit;
};

} // namespace

DBEdit::DBEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new GbkLengthValidator(this));
    connect(&m_link, &DataLink::changed, this, &DBEdit::showField);
    connect(&m_link, &DataLink::updateRequested, this, &DBEdit::writeBack);
    connect(this, &QLineEdit::textEdited, this, &DBEdit::edited);
}

void DBEdit::showField() {
    TextBinding<QLineEdit>{this, m_link, m_text}.show();
}

void DBEdit::edited() {
    TextBinding<QLineEdit>{this, m_link, m_text}.typed();
}

void DBEdit::writeBack() {
    TextBinding<QLineEdit>{this, m_link, m_text}.writeBack();
}

void DBEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (TextBinding<QLineEdit>{this, m_link, m_text}.leave(event))
        emit exited();
}

// ---------------------------------------------------------------------------
// DBMemo

DBMemo::DBMemo(QWidget* parent) : QPlainTextEdit(parent) {
    connect(&m_link, &DataLink::changed, this, &DBMemo::showField);
    connect(&m_link, &DataLink::updateRequested, this, &DBMemo::writeBack);
    connect(this, &QPlainTextEdit::textChanged, this, &DBMemo::edited);
}

void DBMemo::showField() {
    TextBinding<QPlainTextEdit>{this, m_link, m_text}.show();
}

void DBMemo::edited() {
    TextBinding<QPlainTextEdit>{this, m_link, m_text}.typed();
}

void DBMemo::writeBack() {
    TextBinding<QPlainTextEdit>{this, m_link, m_text}.writeBack();
}

void DBMemo::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    TextBinding<QPlainTextEdit>{this, m_link, m_text}.leave(event);
}

// ---------------------------------------------------------------------------
// DBRadioGroup

DBRadioGroup::DBRadioGroup(QWidget* parent) : QGroupBox(parent) {
    new QGridLayout(this);
    connect(&m_link, &DataLink::changed, this, &DBRadioGroup::showField);
}

void DBRadioGroup::setItems(const QStringList& items, const QStringList& values, int columns) {
    qDeleteAll(m_buttons);
    m_buttons.clear();
    m_items = items;
    m_values = values.isEmpty() ? items : values;
    auto* grid = static_cast<QGridLayout*>(layout());
    columns = std::max(1, columns);
    // Filled column by column, as many to a column as it takes.
    const int perColumn = std::max<int>(1, (int(items.size()) + columns - 1) / columns);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        button->setObjectName(QStringLiteral("%1_%2").arg(objectName()).arg(i));
        button->installEventFilter(this);
        connect(button, &QRadioButton::clicked, this, [this, i] { clicked(i); });
        grid->addWidget(button, i % perColumn, i / perColumn);
        m_buttons << button;
    }
    showField();
}

int DBRadioGroup::itemIndex() const {
    for (int i = 0; i < m_buttons.size(); ++i)
        if (m_buttons.at(i)->isChecked())
            return i;
    return -1;
}

void DBRadioGroup::setItemIndex(int index) {
    if (index >= 0 && index < m_buttons.size()) {
        m_buttons.at(index)->click();
        return;
    }
    for (QRadioButton* b : std::as_const(m_buttons)) {
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(true);
    }
}

QRadioButton* DBRadioGroup::button(int index) const {
    return index >= 0 && index < m_buttons.size() ? m_buttons.at(index) : nullptr;
}

void DBRadioGroup::showField() {
    m_showing = true;
    const int match = m_link.canRead() ? int(m_values.indexOf(m_link.text())) : -1;
    if (match >= 0 && match < m_buttons.size())
        m_buttons.at(match)->setChecked(true);
    else
        setItemIndex(-1);
    m_showing = false;
}

void DBRadioGroup::clicked(int index) {
    if (m_showing)
        return;
    const bool written = m_link.canWrite() && guard([&] { m_link.write(m_values.value(index)); });
    if (!written)
        showField();
}

bool DBRadioGroup::leaves(QFocusEvent* event) const {
    const QWidget* next = QApplication::focusWidget();
    return movesToAnotherControl(event) && !(next && isAncestorOf(next));
}

void DBRadioGroup::focusOutEvent(QFocusEvent* event) {
    QGroupBox::focusOutEvent(event);
    if (leaves(event))
        emit exited();
}

bool DBRadioGroup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut &&
        m_buttons.contains(static_cast<QRadioButton*>(watched)) &&
        leaves(static_cast<QFocusEvent*>(event)))
        emit exited();
    return QGroupBox::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// DBText

DBText::DBText(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    connect(&m_link, &DataLink::changed, this, &DBText::showField);
}

void DBText::showField() {
    setText(m_link.text());
}

// ---------------------------------------------------------------------------
// DBNavigator

namespace {

// Every button kind of the framework's navigator, in its fixed order; this
// navigator shows six of them.
enum Kind { kFirst, kPrior, kNext, kLast, kInsert, kDelete, kEdit, kPost, kCancel, kRefresh };
const char* const kDefaultHints[] = {"First record",  "Prior record",  "Next record", "Last record",
                                     "Insert record", "Delete record", "Edit record", "Post edit",
                                     "Cancel edit",   "Refresh data"};
const Kind kShown[DBNavigator::ButtonCount] = {kFirst, kPrior, kNext, kLast, kPost, kCancel};

} // namespace

DBNavigator::DBNavigator(QWidget* parent) : QWidget(parent) {
    static const struct {
        const char* name;
        QStyle::StandardPixmap icon;
    } looks[ButtonCount] = {
        {"First", QStyle::SP_MediaSkipBackward}, {"Prior", QStyle::SP_ArrowLeft},
        {"Next", QStyle::SP_ArrowRight},         {"Last", QStyle::SP_MediaSkipForward},
        {"Post", QStyle::SP_DialogApplyButton},  {"Cancel", QStyle::SP_DialogCancelButton}};
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int i = 0; i < ButtonCount; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(looks[i].name));
        b->setIcon(style()->standardIcon(looks[i].icon));
        b->setFocusPolicy(Qt::NoFocus); // a click leaves the focus where it is
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        connect(b, &QToolButton::clicked, this, [this, i] { click(Button(i)); });
        row->addWidget(b);
        m_buttons[i] = b;
    }
    setHints({});
    connect(&m_link, &DataLink::changed, this, &DBNavigator::updateStates);
    connect(&m_link, &DataLink::stateChanged, this, &DBNavigator::updateStates);
    updateStates();
}

void DBNavigator::setDataSource(DataSource* source) {
    m_link.setDataSource(source);
}

void DBNavigator::setHints(const QStringList& hints) {
    for (int i = 0; i < ButtonCount; ++i) {
        const QString given = hints.value(kShown[i]);
        m_buttons[i]->setToolTip(given.isEmpty() ? QString::fromLatin1(kDefaultHints[kShown[i]])
                                                 : given);
    }
}

void DBNavigator::click(Button which) {
    guard([&] {
        Dataset* ds = m_link.dataset();
        if (!ds || !m_buttons[which]->isEnabled())
            return;
        switch (which) {
        case First:
            ds->first();
            break;
        case Prior:
            ds->prior();
            break;
        case Next:
            ds->next();
            break;
        case Last:
            ds->last();
            break;
        case Post:
            ds->post();
            break;
        case Cancel:
            ds->cancel();
            break;
        case ButtonCount:
            break;
        }
    });
}

void DBNavigator::updateStates() {
    Dataset* ds = m_link.dataset();
    const bool active = ds && ds->active();
    const int row = active ? ds->recNo() : 0;
    const int rows = active ? ds->recordCount() : 0;
    const bool editing = m_link.editing();
    const bool back = active && row > 1;
    const bool ahead = active && row < rows;
    const bool enabled[ButtonCount] = {back, back, ahead, ahead, editing, editing};
    for (int i = 0; i < ButtonCount; ++i)
        m_buttons[i]->setEnabled(enabled[i]);
}

} // namespace fw
