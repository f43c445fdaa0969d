#include "windows/OVGrid.h"

#include <algorithm>

#include <QApplication>
#include <QDrag>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

#include "inspector/OVVariable.h"
#include "inspector/VarClipboard.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/StatusBar.h"
#include "windows/BusyState.h"
#include "windows/VariableDrag.h"
#include "windows/WindowsLog.h"

namespace orvane {

const char* const kGridRowsMimeType = "application/x-orvane-grid-rows";

namespace {

constexpr int kKindPictureSize = 25;
const int kInitialWidths[gcColumnCount] = {80, kKindColumnWidth, 90, 90, 90, 100, 150};
const char* const kCaptions[gcColumnCount] = {"Control", " ",     "Category",   "Block",
                                              "Field",   "Value", "Description"};

QPixmap paintKindPicture(QColor face, const QString& letter) {
    QPixmap picture(kKindPictureSize, kKindPictureSize);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(face.darker(160));
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(4.5, 4.5, 15, 15), 3, 3);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(4, 4, 16, 16), Qt::AlignCenter, letter);
    return picture;
}

// The picture on an 18 x 24 cell bitmap, white taken as transparent.
QImage cellPicture(ItemClassType classType) {
    // Images, not pixmaps: they may outlive the application object.
    static QImage cache[4];
    QImage& cell = cache[classType & 3];
    if (cell.isNull()) {
        QImage image = KindPicture(classType).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if ((line[x] & 0xFFFFFF) == 0xFFFFFF) {
                    line[x] = 0;
                }
            }
        }
        cell = image.copy(3, 3, kKindColumnWidth, 18);
    }
    return cell;
}

void showError(const Exception& e) {
    DialogService::current().messageBox(mtError, e.message(), mbOK);
}

} // namespace

QPixmap KindPicture(ItemClassType classType) {
    switch (classType) {
    case vctMonitor:
        return paintKindPicture(QColor(120, 200, 120), QStringLiteral("M"));
    case vctTunable:
        return paintKindPicture(QColor(250, 210, 90), QStringLiteral("T"));
    case vctConfigure:
        return paintKindPicture(QColor(120, 160, 230), QStringLiteral("C"));
    default:
        break;
    }
    QPixmap blank(kKindPictureSize, kKindPictureSize);
    blank.fill(Qt::white);
    return blank;
}

QString ValueText(ItemDataType dataType, const QString& value, int places) {
    switch (dataType) {
    case vdtBoolean:
        return value == QLatin1String("0") ? QStringLiteral("False") : QStringLiteral("True");
    case vdtReal:
        return FixedPointText(value, places);
    default:
        return value;
    }
}

// ---------------------------------------------------------------------------
// TOVGridModel

TOVGridModel::TOVGridModel(QObject* parent) : QAbstractTableModel(parent) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TOVGridModel::Flush);
    m_sinceFlush.start();
}

void TOVGridModel::SetSheet(TOVVariableList* sheet) {
    m_sheet = sheet;
    reset();
}

void TOVGridModel::SetDecimalPlaces(int places) {
    m_decimalPlaces = places;
    if (m_rowCount > 0) {
        emit dataChanged(index(0, gcValue), index(m_rowCount - 1, gcValue));
    }
}

void TOVGridModel::RowChanged(TOVVariableList* sheet, int row) {
    if (sheet != m_sheet || !sheet) {
        return; // another sheet of the document: not on screen
    }
    if (row < 0 || row >= m_rowCount || sheet->Count() != m_rowCount) {
        reset();
        return;
    }
    if (!m_dirty[row]) {
        m_dirty[row] = 1;
        m_dirtyRows.push_back(row);
    }
    if (!m_timer.isActive()) {
        // The first value after a quiet spell goes out with the current burst
        // of events; later ones wait for the next frame.
        const qint64 wait = kValueRepaintIntervalMs - m_sinceFlush.elapsed();
        m_timer.start(static_cast<int>(std::max<qint64>(0, wait)));
    }
}

void TOVGridModel::Flush() {
    m_timer.stop();
    m_sinceFlush.restart();
    if (m_dirtyRows.empty()) {
        return;
    }
    std::vector<int> rows;
    rows.swap(m_dirtyRows);
    const auto [first, last] = visibleRows ? visibleRows() : std::pair<int, int>(0, m_rowCount);
    for (int row : rows) {
        m_dirty[row] = 0;
        if (row >= first && row <= last) {
            const QModelIndex cell = index(row, gcValue);
            emit dataChanged(cell, cell, {Qt::DisplayRole});
        }
    }
    if (onFlushed) {
        onFlushed(rows);
    }
}

void TOVGridModel::reset() {
    beginResetModel();
    m_timer.stop();
    m_rowCount = m_sheet ? m_sheet->Count() : 0;
    m_dirty.assign(m_rowCount, 0);
    m_dirtyRows.clear();
    endResetModel();
    if (onReset) {
        onReset();
    }
}

int TOVGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int TOVGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : gcColumnCount;
}

QVariant TOVGridModel::data(const QModelIndex& index, int role) const {
    if (!m_sheet || !index.isValid()) {
        return {};
    }
    const TOVVariable* v = m_sheet->Get(index.row());
    if (!v) {
        return {};
    }
    if (role == Qt::DecorationRole && index.column() == gcKind) {
        if (v->AttributesKnown() && v->ItemClassType() != vctUnassigned) {
            return cellPicture(v->ItemClassType());
        }
        return {};
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case gcControl:
        return v->DeviceName();
    case gcCategory:
        return v->Category();
    case gcBlock:
        return v->Block();
    case gcField:
        return v->Field();
    case gcValue:
        return ValueText(v->DataType(), v->Value().toString(), m_decimalPlaces);
    case gcDescription:
        return v->Description();
    default:
        return {};
    }
}

QVariant TOVGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < gcColumnCount) {
        return QString::fromLatin1(kCaptions[section]);
    }
    return {};
}

Qt::ItemFlags TOVGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

// ---------------------------------------------------------------------------
// TOVHeaderControl, TOVGridEdit

TOVHeaderControl::TOVHeaderControl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setDefaultAlignment(Qt::AlignCenter);
    setSectionsClickable(false);
    setHighlightSections(false);
    setFixedHeight(kHeaderHeight);
    setMinimumSectionSize(4);
}

TOVGridEdit::TOVGridEdit(QWidget* parent) : QLineEdit(parent) {
    setFixedHeight(22);
    setFrame(true);
}

void TOVGridEdit::keyPressEvent(QKeyEvent* event) {
    const auto call = [event](const std::function<void()>& handler) {
        event->accept();
        if (handler) {
            handler();
        }
    };
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        call(OnReturn);
        return;
    case Qt::Key_Up:
        call(OnUp);
        return;
    case Qt::Key_Down:
        call(OnDown);
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

// ---------------------------------------------------------------------------
// Cell painting: a plain fill and one line of text (or the kind picture) per
// cell, without the style's item machinery, so that a full frame stays cheap.

namespace {

class TOVCellDelegate : public QStyledItemDelegate {
public:
    explicit TOVCellDelegate(TOVStringGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            m_grid->isActiveWindow() ? QPalette::Active : QPalette::Inactive;
        const QPalette& palette = option.palette;
        const QRect r = option.rect;
        painter->fillRect(r, selected ? palette.color(group, QPalette::Highlight)
                                      : palette.color(group, QPalette::Base));
        if (index.column() == gcKind) {
            const QVariant picture = index.data(Qt::DecorationRole);
            if (picture.canConvert<QImage>()) {
                const QImage image = picture.value<QImage>();
                painter->drawImage(QPoint(r.left(), r.top() + (r.height() - image.height()) / 2),
                                   image);
            }
            return;
        }
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty()) {
            return;
        }
        painter->save();
        painter->setClipRect(r);
        painter->setPen(selected ? palette.color(group, QPalette::HighlightedText)
                                 : palette.color(group, QPalette::Text));
        painter->drawText(r.adjusted(kCellTextIndent, 0, 0, 0),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }

    // A cell too narrow for its text (a long block name in the default
    // widths) shows the whole text as its tip; a cell that fits shows none.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event == nullptr || event->type() != QEvent::ToolTip) {
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        }
        const QString text = index.data(Qt::DisplayRole).toString();
        if (index.column() == gcKind || text.isEmpty() ||
            option.fontMetrics.horizontalAdvance(text) + kCellTextIndent <= option.rect.width()) {
            QToolTip::hideText();
            return true;
        }
        QToolTip::showText(event->globalPos(), text, view, option.rect);
        return true;
    }

private:
    static constexpr int kCellTextIndent = 4;
    TOVStringGrid* m_grid;
};

} // namespace

// ---------------------------------------------------------------------------
// TOVStringGrid

TOVStringGrid::TOVStringGrid(TOVGrid* owner) : QTableView(owner), m_owner(owner) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setFont(QFont(QStringLiteral("MS Sans Serif")));
    setItemDelegate(new TOVCellDelegate(this));
}

TOVStringGrid::~TOVStringGrid() = default;

int TOVStringGrid::SelectionTop() const {
    if (!selectionModel()) {
        return -1;
    }
    int top = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (top < 0 || range.top() < top) {
            top = range.top();
        }
    }
    return top;
}

int TOVStringGrid::SelectionBottom() const {
    if (!selectionModel()) {
        return -1;
    }
    int bottom = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        bottom = std::max(bottom, range.bottom());
    }
    return bottom;
}

void TOVStringGrid::SelectRows(int top, int bottom) {
    if (!model() || top < 0 || bottom < top || bottom >= model()->rowCount()) {
        return;
    }
    const QItemSelection rows(model()->index(top, 0), model()->index(bottom, gcColumnCount - 1));
    selectionModel()->setCurrentIndex(model()->index(top, 0), QItemSelectionModel::NoUpdate);
    selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
}

int TOVStringGrid::RowAt(const QPoint& viewportPoint) const {
    return rowAt(viewportPoint.y());
}

void TOVStringGrid::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const TOVVariableList* sheet = m_owner->Sheet();
    const bool hasRows = sheet && sheet->Count() > 0;
    if (event->key() == Qt::Key_Delete) {
        m_owner->DeleteSelected();
    } else if (ctrl && event->key() == Qt::Key_X) {
        if (hasRows) {
            m_owner->Cut();
        }
    } else if (ctrl && event->key() == Qt::Key_C) {
        if (hasRows) {
            m_owner->Copy();
        }
    } else if (ctrl && event->key() == Qt::Key_V) {
        m_owner->Paste();
    } else {
        QTableView::keyPressEvent(event);
        m_owner->CommandState();
        return;
    }
    event->accept();
    m_owner->CommandState();
}

void TOVStringGrid::startDrag(Qt::DropActions) {
    const TOVVariableList* sheet = m_owner->Sheet();
    if (!sheet || sheet->Count() == 0 || SelectionTop() < 0) {
        return;
    }
    m_owner->BeginRowDrag();
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kGridRowsMimeType), QByteArray());
    QPointer<TOVGrid> owner(m_owner);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction, Qt::MoveAction);
    if (owner) {
        owner->EndRowDrag();
    }
}

bool TOVStringGrid::acceptsDrag(const QDropEvent* event) const {
    const QMimeData* data = event->mimeData();
    if (!data) {
        return false;
    }
    if (data->hasFormat(QString::fromLatin1(kGridRowsMimeType))) {
        return qobject_cast<TOVStringGrid*>(event->source()) != nullptr;
    }
    return IsVariableDrag(data);
}

void TOVStringGrid::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptsDrag(event) && m_owner->Sheet()) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TOVStringGrid::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptsDrag(event) && m_owner->Sheet()) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TOVStringGrid::dropEvent(QDropEvent* event) {
    if (!acceptsDrag(event) || !m_owner->Sheet()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    const int row = RowAt(event->position().toPoint());
    auto* source = event->mimeData()->hasFormat(QString::fromLatin1(kGridRowsMimeType))
                       ? qobject_cast<TOVStringGrid*>(event->source())
                       : nullptr;
    m_owner->DropAt(row, source);
}

void TOVStringGrid::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (onPainted) {
        onPainted();
    }
}

void TOVStringGrid::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    if (dy != 0) {
        m_owner->HideEditors();
        m_owner->SchedulePlaceEditors();
    }
}

void TOVStringGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    m_owner->HideEditors();
    m_owner->SchedulePlaceEditors();
}

void TOVStringGrid::mousePressEvent(QMouseEvent* event) {
    m_owner->HideEditors();
    QTableView::mousePressEvent(event);
    m_owner->SchedulePlaceEditors();
}

void TOVStringGrid::selectionChanged(const QItemSelection& selected,
                                     const QItemSelection& deselected) {
    QTableView::selectionChanged(selected, deselected);
    m_owner->HideEditors();
    m_owner->SchedulePlaceEditors();
}

// ---------------------------------------------------------------------------
// TOVGrid

TOVGrid::TOVGrid(QWidget* parent) : QWidget(parent) {
    resize(417, 197);
    m_grid = new TOVStringGrid(this);
    m_header = new TOVHeaderControl(m_grid);
    m_grid->setHorizontalHeader(m_header);
    m_grid->setModel(&m_model);
    m_header->setStretchLastSection(true);
    for (int c = 0; c < gcColumnCount; ++c) {
        m_header->resizeSection(c, kInitialWidths[c]);
    }
    m_header->setSectionResizeMode(gcKind, QHeaderView::Fixed);
    connect(m_header, &QHeaderView::sectionResized, this, [this] { LayoutColumns(); });

    m_editors[static_cast<int>(TGridEditorKind::Spin)] =
        CreateGridValueEditor(TGridEditorKind::Spin, this);
    m_editors[static_cast<int>(TGridEditorKind::String)] =
        CreateGridValueEditor(TGridEditorKind::String, this);
    m_editors[static_cast<int>(TGridEditorKind::Toggle)] =
        CreateGridValueEditor(TGridEditorKind::Toggle, this);
    m_editors[static_cast<int>(TGridEditorKind::Timer)] =
        CreateGridValueEditor(TGridEditorKind::Timer, this);
    m_editors[static_cast<int>(TGridEditorKind::Spin)]->SetDecimalPlaces(kMaxDecimalPlaces);
    m_description = new TOVGridEdit(this);
    connect(m_description, &QLineEdit::textEdited, this, &TOVGrid::DescriptionEdited);
    m_description->OnReturn = [this] { MoveSelection(1); };
    m_description->OnDown = [this] { MoveSelection(1); };
    m_description->OnUp = [this] { MoveSelection(-1); };

    m_model.onFlushed = [this](const std::vector<int>& rows) { ValuesFlushed(rows); };
    m_model.visibleRows = [this] {
        const int first = m_grid->rowAt(0);
        const int last = m_grid->rowAt(m_grid->viewport()->height() - 1);
        if (first < 0) {
            return std::pair<int, int>(0, -1); // nothing on screen
        }
        return std::pair<int, int>(first, last < 0 ? m_model.rowCount() - 1 : last);
    };
    setFocusProxy(m_grid);
    HideEditors();
    LayoutColumns();
}

TOVGrid::~TOVGrid() {
    EndRowDrag();
    for (auto& editor : m_editors) {
        editor->SetActive(false);
        editor->Bind(nullptr, QString());
    }
    m_model.onFlushed = nullptr;
    m_model.visibleRows = nullptr;
    m_grid->setModel(nullptr);
}

TGridValueEditor* TOVGrid::ValueEditor(TGridEditorKind kind) const {
    return m_editors[static_cast<int>(kind)].get();
}

void TOVGrid::SetSheet(TOVVariableList* sheet) {
    HideEditors();
    if (TOVVariableList* old = m_model.Sheet()) {
        old->SetTopRow(m_grid->rowAt(0) < 0 ? 0 : m_grid->rowAt(0));
        old->SetSelectionTop(std::max(0, m_grid->SelectionTop()));
        old->SetSelectionBottom(std::max(0, m_grid->SelectionBottom()));
    }
    m_model.SetSheet(sheet);
    if (sheet && sheet->Count() > 0) {
        const int last = sheet->Count() - 1;
        const int top = std::clamp(sheet->SelectionTop(), 0, last);
        const int bottom = std::clamp(sheet->SelectionBottom(), top, last);
        m_grid->SelectRows(top, bottom);
        m_grid->verticalScrollBar()->setValue(std::clamp(sheet->TopRow(), 0, last));
    }
    m_grid->viewport()->update();
    SchedulePlaceEditors();
    CommandState();
}

void TOVGrid::ForgetSheet() {
    HideEditors();
    m_model.SetSheet(nullptr);
}

void TOVGrid::SetColumnWidths(const int widths[6]) {
    static constexpr int kSections[6] = {gcControl, gcCategory, gcBlock,
                                         gcField,   gcValue,    gcDescription};
    for (int i = 0; i < 6; ++i) {
        m_header->resizeSection(kSections[i], std::max(0, widths[i]));
    }
    LayoutColumns();
}

void TOVGrid::GetColumnWidths(int widths[6]) const {
    static constexpr int kSections[6] = {gcControl, gcCategory, gcBlock,
                                         gcField,   gcValue,    gcDescription};
    for (int i = 0; i < 6; ++i) {
        widths[i] = m_header->sectionSize(kSections[i]);
    }
}

void TOVGrid::LayoutColumns() {
    if (m_layingOut) {
        return;
    }
    m_layingOut = true;
    m_header->resizeSection(gcKind, kKindColumnWidth);
    m_layingOut = false;
    HideEditors();
    SchedulePlaceEditors();
}

void TOVGrid::SetDecimalPlaces(int places) {
    if (places < 0 || places > kMaxDecimalPlaces) {
        return;
    }
    HideEditors();
    m_model.SetDecimalPlaces(places);
    SchedulePlaceEditors();
}

void TOVGrid::Refresh() {
    m_grid->viewport()->update();
    m_header->viewport()->update();
}

void TOVGrid::RowChanged(TOVVariableList* sheet, int row) {
    if (sheet != m_model.Sheet()) {
        return;
    }
    if (row >= 0 && row < m_model.rowCount() && sheet->Count() == m_model.rowCount()) {
        m_model.RowChanged(sheet, row);
        return;
    }
    // Rows came or went: keep the selection where it was, within the rows.
    const int top = m_grid->SelectionTop();
    const int bottom = m_grid->SelectionBottom();
    HideEditors();
    m_model.RowChanged(sheet, -1);
    const int count = sheet->Count();
    if (top >= 0 && count > 0) {
        m_grid->SelectRows(std::min(top, count - 1), std::min(bottom, count - 1));
    }
    SchedulePlaceEditors();
}

void TOVGrid::ValuesFlushed(const std::vector<int>& rows) {
    // A row whose attributes arrived late gets its editor now; an editor in
    // front keeps its binding (and what is being typed in it).
    const int top = m_grid->SelectionTop();
    if (top < 0 || m_shownEditor || top != m_grid->SelectionBottom()) {
        return;
    }
    if (std::find(rows.begin(), rows.end(), top) != rows.end()) {
        SchedulePlaceEditors();
    }
}

void TOVGrid::CommandState() {
    m_onCommandState();
}

void TOVGrid::SetStatusText(const QString& text) {
    if (m_statusBar && m_statusBar->PanelCount() > 0) {
        m_statusBar->SetPanelText(0, text);
    }
}

void TOVGrid::HideEditors() {
    for (auto& editor : m_editors) {
        if (!editor) {
            continue; // still being made
        }
        if (editor->IsActive()) {
            editor->SetActive(false);
        }
        // No claim is kept behind the grid: the editor is bound afresh each
        // time it comes to the front.
        editor->Bind(nullptr, QString());
        editor->Widget()->hide();
    }
    if (m_description) {
        m_description->hide();
    }
    m_shownEditor = nullptr;
    m_shownVariable = nullptr;
}

void TOVGrid::SchedulePlaceEditors() {
    if (m_placeScheduled) {
        return;
    }
    m_placeScheduled = true;
    QTimer::singleShot(0, this, &TOVGrid::PlaceEditors);
}

void TOVGrid::PlaceEditors() {
    m_placeScheduled = false;
    TOVVariableList* sheet = m_model.Sheet();
    const int top = m_grid->SelectionTop();
    const int bottom = m_grid->SelectionBottom();
    if (!sheet || top < 0 || top >= sheet->Count()) {
        return;
    }
    TOVVariable* v = sheet->Get(top);
    const bool single = top == bottom;
    const QRect valueCell = m_grid->visualRect(m_model.index(top, gcValue));
    const QRect descriptionCell = m_grid->visualRect(m_model.index(top, gcDescription));
    const bool visibleRow = valueCell.isValid() && valueCell.bottom() >= 0 &&
                            valueCell.top() < m_grid->viewport()->height();
    const QPoint origin = m_grid->viewport()->mapTo(this, QPoint(0, 0));

    if (v->AttributesKnown()) {
        SetStatusText(QString());
        if (single && v->ItemClassType() != vctMonitor) {
            TGridValueEditor* editor = nullptr;
            int places = 0;
            switch (v->DataType()) {
            case vdtString:
                editor = ValueEditor(TGridEditorKind::String);
                break;
            case vdtBoolean:
                editor = ValueEditor(TGridEditorKind::Toggle);
                break;
            case vdtInteger:
                editor = ValueEditor(TGridEditorKind::Spin);
                places = 0;
                break;
            case vdtReal:
                editor = ValueEditor(TGridEditorKind::Spin);
                places = m_model.DecimalPlaces();
                break;
            case vdtTimer:
                editor = ValueEditor(TGridEditorKind::Timer);
                break;
            default:
                break;
            }
            if (editor && visibleRow) {
                if (m_shownEditor != editor || m_shownVariable != v || !editor->IsActive()) {
                    if (m_shownEditor && m_shownEditor != editor) {
                        m_shownEditor->SetActive(false);
                        m_shownEditor->Widget()->hide();
                    }
                    editor->SetDecimalPlaces(places);
                    editor->Bind(nullptr, QString());
                    editor->Bind(v->Device(), v->ItemName());
                    editor->SetActive(true);
                }
                QRect r = valueCell.translated(origin);
                if (editor == ValueEditor(TGridEditorKind::Toggle)) {
                    r = QRect(r.left() + 5, r.top() + 3, std::max(0, r.width() - 10), 18);
                } else {
                    r = QRect(r.left() + 1, r.top() + 1, std::max(0, r.width() - 2),
                              r.height() - 2);
                }
                editor->Widget()->setGeometry(r);
                editor->Widget()->show();
                editor->Widget()->raise();
                m_shownEditor = editor;
                m_shownVariable = v;
            }
            const int places2 = m_model.DecimalPlaces();
            if (v->DataType() == vdtReal) {
                SetStatusText(QStringLiteral("Min = ") +
                              FixedPointText(v->MinValue().toString(), places2) +
                              QStringLiteral(" : Max = ") +
                              FixedPointText(v->MaxValue().toString(), places2));
            } else {
                SetStatusText(QStringLiteral("Min = ") + v->MinValue().toString() +
                              QStringLiteral(" : Max = ") + v->MaxValue().toString());
            }
        }
    }
    if (single && visibleRow) {
        const QRect r = descriptionCell.translated(origin);
        m_description->setGeometry(r.left() + 2, r.top() + 1, std::max(0, r.width() - 4), 22);
        if (m_description->text() != v->Description()) {
            m_description->setText(v->Description());
        }
        m_description->show();
        m_description->raise();
    }
}

void TOVGrid::DescriptionEdited(const QString& text) {
    TOVVariableList* sheet = m_model.Sheet();
    const int top = m_grid->SelectionTop();
    if (sheet && top >= 0) {
        if (TOVVariable* v = sheet->Get(top)) {
            v->SetDescription(text);
            m_grid->update(m_model.index(top, gcDescription));
        }
    }
}

void TOVGrid::MoveSelection(int delta) {
    TOVVariableList* sheet = m_model.Sheet();
    const int top = m_grid->SelectionTop();
    const int bottom = m_grid->SelectionBottom();
    if (sheet && top >= 0) {
        if (delta > 0 && bottom < sheet->Count() - 1) {
            m_grid->SelectRows(top + 1, top + 1);
        } else if (delta < 0 && bottom > 0 && top > 0) {
            m_grid->SelectRows(top - 1, top - 1);
        }
        m_grid->scrollTo(m_model.index(m_grid->SelectionTop(), 0));
    }
    HideEditors();
    m_description->setFocus();
    m_grid->viewport()->update();
    PlaceEditors();
    m_description->setFocus();
}

void TOVGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_grid->setGeometry(0, 0, width(), height());
    LayoutColumns();
}

void TOVGrid::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    m_grid->setFocus();
}

// ---------------------------------------------------------------------------
// Row commands

void TOVGrid::copyRows(int top, int bottom) {
    TOVVariableList* sheet = m_model.Sheet();
    if (!m_clipboard || !sheet) {
        return;
    }
    m_clipboard->Clear();
    for (int row = top; row <= bottom; ++row) {
        if (const TOVVariable* v = sheet->Get(row)) {
            m_clipboard->Add(v->ItemName(), v->Description(), v->Device());
        }
    }
}

void TOVGrid::deleteRows(int top, int count) {
    TOVVariableList* sheet = m_model.Sheet();
    HideEditors();
    for (int i = 0; i < count && sheet && top < sheet->Count(); ++i) {
        sheet->Delete(top);
    }
}

void TOVGrid::Copy() {
    const int top = m_grid->SelectionTop();
    if (top >= 0) {
        copyRows(top, m_grid->SelectionBottom());
    }
    CommandState();
}

void TOVGrid::Cut() {
    const int top = m_grid->SelectionTop();
    if (top >= 0) {
        const int bottom = m_grid->SelectionBottom();
        copyRows(top, bottom);
        deleteRows(top, bottom - top + 1);
    }
    CommandState();
}

void TOVGrid::Paste() {
    TOVVariableList* sheet = m_model.Sheet();
    if (!sheet || !m_clipboard) {
        return;
    }
    {
        TBusyScope busy;
        try {
            sheet->PasteAt(sheet->Count(), *m_clipboard);
        } catch (const Exception& e) {
            showError(e);
        }
    }
    CommandState();
}

void TOVGrid::DeleteSelected() {
    TOVVariableList* sheet = m_model.Sheet();
    const int top = m_grid->SelectionTop();
    if (sheet && sheet->Count() > 0 && top >= 0) {
        deleteRows(top, m_grid->SelectionBottom() - top + 1);
        if (top < sheet->Count()) {
            m_grid->SelectRows(top, top);
        }
        SetStatusText(QString());
        m_grid->viewport()->update();
    }
    CommandState();
}

// ---------------------------------------------------------------------------
// Dragging and dropping rows

void TOVGrid::BeginRowDrag() {
    m_grid->DragFirstRow = m_grid->SelectionTop();
    m_grid->DragLastRow = m_grid->SelectionBottom();
    m_grid->DragIsMove = true;
    if (m_clipboard) {
        m_clipboard->SetOnFill(TVariableClipboardEvent(this, &TOVGrid::FillClipboard));
    }
}

void TOVGrid::EndRowDrag() {
    m_grid->DragIsMove = false;
    if (m_clipboard &&
        m_clipboard->OnFill() == TVariableClipboardEvent(this, &TOVGrid::FillClipboard)) {
        m_clipboard->SetOnFill({});
    }
}

void TOVGrid::FillClipboard(TVariableClipboard*) {
    const int first = m_grid->DragFirstRow;
    const int last = m_grid->DragLastRow;
    if (first < 0 || last < first) {
        return;
    }
    copyRows(first, last);
    if (m_grid->DragIsMove) {
        deleteRows(first, last - first + 1);
        // Filled once per drop: a second Fill must not take further rows.
        m_grid->DragIsMove = false;
        m_grid->DragLastRow = first - 1;
    }
}

void TOVGrid::DropAt(int row, TOVStringGrid* source) {
    TOVVariableList* sheet = m_model.Sheet();
    if (!sheet || !m_clipboard) {
        return;
    }
    {
        TBusyScope busy;
        const int first = source ? source->DragFirstRow : 0;
        const int last = source ? source->DragLastRow : 0;
        const bool withinSheet = source == m_grid;
        m_clipboard->Fill();
        int at = row;
        if (withinSheet && row > first) {
            // Only the dragged rows above the drop row were removed; a drop on
            // a dragged row puts the rows back where they were.
            at = row - (std::min(row, last + 1) - first);
        }
        const int pasted = m_clipboard->Count();
        try {
            sheet->PasteAt(at, *m_clipboard);
        } catch (const Exception& e) {
            showError(e);
        }
        if (withinSheet && sheet->Count() > 0) {
            int select = at;
            if (row < 0) {
                select = sheet->Count() - 1;
            } else if (row > first) {
                select = at + pasted - 1;
            }
            select = std::clamp(select, 0, sheet->Count() - 1);
            m_grid->SelectRows(select, select);
        }
    }
    CommandState();
}

} // namespace orvane
