#include "windows/InspectorForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDrag>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "inspector/VarClipboard.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/StatusBar.h"
#include "windows/BusyState.h"
#include "windows/OVGrid.h"
#include "windows/VariableDrag.h"
#include "windows/WindowsLog.h"

namespace orvane {

const char* const kSheetTabMimeType = "application/x-orvane-sheet-tab";

namespace {
constexpr int kNameEditorWidth = 219;
constexpr int kNameEditorHeight = 87;
const QString kDefaultCaption = QStringLiteral("Inspector");
const QString kSavePrompt = QStringLiteral("Do you want to save the changes to ");
} // namespace

// ---------------------------------------------------------------------------
// TSheetNameEditor

TSheetNameEditor::TSheetNameEditor(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Orvane"));
    setFixedSize(kNameEditorWidth, kNameEditorHeight);
    auto* label = new QLabel(QStringLiteral("Sheet Name:"), this);
    m_name = new QLineEdit(this);
    m_ok = new QPushButton(QStringLiteral("&Ok"), this);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_ok->setDefault(true);
    m_ok->setEnabled(false);
    auto* top = new QHBoxLayout;
    top->addWidget(label);
    top->addWidget(m_name, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    connect(m_name, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_ok->setEnabled(!text.isEmpty()); });
    connect(m_ok, &QPushButton::clicked, this, [this] {
        if (!m_name->text().isEmpty()) {
            accept();
        }
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

// ---------------------------------------------------------------------------
// TInspectorTabBar

TInspectorTabBar::TInspectorTabBar(TInspectorForm* form) : QTabBar(form), m_form(form) {
    setAcceptDrops(true);
    setFixedHeight(kTabBarHeight);
    setExpanding(false);
    setDrawBase(true);
}

void TInspectorTabBar::mousePressEvent(QMouseEvent* event) {
    QTabBar::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        m_pressPos = event->position().toPoint();
    }
}

void TInspectorTabBar::mouseMoveEvent(QMouseEvent* event) {
    QTabBar::mouseMoveEvent(event);
    if (!m_pressed || !(event->buttons() & Qt::LeftButton) ||
        (event->position().toPoint() - m_pressPos).manhattanLength() <
            QApplication::startDragDistance()) {
        return;
    }
    m_pressed = false;
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kSheetTabMimeType), QByteArray());
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction);
}

bool TInspectorTabBar::accepts(const QDropEvent* event) const {
    const QMimeData* data = event->mimeData();
    if (!data) {
        return false;
    }
    if (data->hasFormat(QString::fromLatin1(kSheetTabMimeType))) {
        // Only this window's own tabs move here: a tab carries its sheet,
        // which belongs to the document of its own window.
        return event->source() == this;
    }
    if (data->hasFormat(QString::fromLatin1(kGridRowsMimeType))) {
        return qobject_cast<TOVStringGrid*>(event->source()) != nullptr;
    }
    return IsVariableDrag(data);
}

void TInspectorTabBar::dragEnterEvent(QDragEnterEvent* event) {
    if (accepts(event)) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TInspectorTabBar::dragMoveEvent(QDragMoveEvent* event) {
    if (accepts(event)) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TInspectorTabBar::dropEvent(QDropEvent* event) {
    if (!accepts(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    const int tab = tabAt(event->position().toPoint());
    const QMimeData* data = event->mimeData();
    if (data->hasFormat(QString::fromLatin1(kSheetTabMimeType))) {
        m_form->DropOnTab(tab, nullptr, true);
    } else if (data->hasFormat(QString::fromLatin1(kGridRowsMimeType))) {
        m_form->DropOnTab(tab, qobject_cast<TOVStringGrid*>(event->source()), false);
    } else {
        m_form->DropOnTab(tab, nullptr, false);
    }
}

// ---------------------------------------------------------------------------
// TInspectorForm

TInspectorForm::TInspectorForm(QWidget* owner, TActivatedEvent onActivated,
                               TVariableClipboard* clipboard)
    : TOrvaneMDIForm(owner, onActivated), m_clipboard(clipboard) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kDefaultCaption);
    resize(417, 360);

    m_tabs = new TInspectorTabBar(this);
    m_panel = new QWidget(this);
    m_grid = new TOVGrid(m_panel);
    auto* panelLayout = new QVBoxLayout(m_panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(m_grid);
    m_statusBar = new TStatusBar(this);
    m_statusBar->AddPanel(kStatusPanelWidth);
    m_statusBar->setSizeGripEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tabs);
    layout->addWidget(m_panel, 1);
    layout->addWidget(m_statusBar);

    m_grid->SetStatusBar(m_statusBar);
    m_grid->SetClipboard(m_clipboard);
    m_grid->SetOnCommandState(TOVGrid::TNotifyEvent(this, &TInspectorForm::GridCommandState));
    connect(m_tabs, &QTabBar::currentChanged, this, &TInspectorForm::TabControl1Change);

    m_inspectorPopup = new QMenu(this);
    m_cut = m_inspectorPopup->addAction(QStringLiteral("Cu&t"), this, [this] { Cut(); });
    m_copy = m_inspectorPopup->addAction(QStringLiteral("&Copy"), this, [this] { Copy(); });
    m_paste = m_inspectorPopup->addAction(QStringLiteral("&Paste"), this, [this] { Paste(); });
    m_delete = m_inspectorPopup->addAction(QStringLiteral("Delete"), this,
                                           [this] { m_grid->DeleteSelected(); });
    m_inspectorPopup->addSeparator();
    m_trend = m_inspectorPopup->addAction(QStringLiteral("Trend"), this, [this] {
        if (auto* services = MainWindowServices()) {
            services->TrendSelection(this);
        }
    });
    m_trend->setObjectName(QStringLiteral("Trend"));
    m_inspectorPopup->addSeparator();
    m_inspectorPopup->addAction(QStringLiteral("Set Columns As Default"), this, [this] {
        if (auto* settings = TInspectorInitialization::Instance()) {
            int widths[TInspectorInitialization::kColumnCount];
            m_grid->GetColumnWidths(widths);
            settings->SetColumnWidths(widths);
        }
    });
    m_tabPopup = new QMenu(this);
    m_tabPaste = m_tabPopup->addAction(QStringLiteral("&Paste"), this, [this] { Paste(); });
    m_tabPopup->addAction(QStringLiteral("Rename Sheet"), this, [this] { RenameSheet(); });

    auto* stringGrid = m_grid->StringGrid();
    stringGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(stringGrid, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const bool rows = SheetHasRows();
        m_cut->setEnabled(rows);
        m_copy->setEnabled(rows);
        m_delete->setEnabled(rows);
        m_trend->setEnabled(rows && m_grid->StringGrid()->SelectionTop() >= 0);
        m_paste->setEnabled(m_clipboard && !m_clipboard->IsEmpty());
        m_inspectorPopup->popup(m_grid->StringGrid()->viewport()->mapToGlobal(pos));
    });
    m_tabs->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tabs, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_tabPaste->setEnabled(m_clipboard && !m_clipboard->IsEmpty());
        m_tabPopup->popup(m_tabs->mapToGlobal(pos));
    });

    if (auto* settings = TInspectorInitialization::Instance()) {
        int widths[TInspectorInitialization::kColumnCount];
        settings->GetColumnWidths(widths);
        m_grid->SetColumnWidths(widths);
        m_grid->SetDecimalPlaces(settings->DecimalPlaces());
    }
    AddSheet();
    m_doc.SetModified(false);
    RecordGeometry();
    m_created = true;
}

TInspectorForm::~TInspectorForm() {
    m_closing = true;
    // The grid forgets the sheets before the document destroys them.
    m_grid->ForgetSheet();
}

bool TInspectorForm::SheetHasRows() const {
    const TOVVariableList* sheet = m_doc.CurrentSheet();
    return sheet && sheet->Count() > 0;
}

void TInspectorForm::runSafely(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        DialogService::current().messageBox(mtError, e.message(), mbOK);
    }
}

void TInspectorForm::showTabName(int index, const QString& name) {
    m_tabs->setTabText(index, name);
}

void TInspectorForm::AddSheet() {
    ++m_sheetCounter;
    AddNamedSheet(QStringLiteral("Sheet%1").arg(m_sheetCounter));
}

void TInspectorForm::AddNamedSheet(const QString& name) {
    TOVVariableList* sheet = nullptr;
    runSafely([&] {
        sheet = m_doc.AddSheet(name, TOVVariableChangedEvent(m_grid, &TOVGrid::RowChanged));
    });
    m_grid->SetSheet(m_doc.CurrentSheet());
    {
        QSignalBlocker block(m_tabs);
        const int index = m_tabs->addTab(name);
        m_tabs->setCurrentIndex(index);
    }
    SendEditFlags();
}

void TInspectorForm::RemoveSheet() {
    if (m_tabs->count() < 2) {
        m_sheetCounter = 1;
        if (TOVVariableList* sheet = m_doc.CurrentSheet()) {
            sheet->Clear();
        }
        m_doc.SetSheetName(QStringLiteral("Sheet1"));
        if (m_tabs->count() == 1) {
            showTabName(0, QStringLiteral("Sheet1"));
        }
    } else {
        const int index = m_tabs->currentIndex();
        m_grid->ForgetSheet();
        runSafely([&] { m_doc.RemoveSheet(index); });
        m_grid->SetSheet(m_doc.CurrentSheet());
        QSignalBlocker block(m_tabs);
        m_tabs->removeTab(index);
        m_tabs->setCurrentIndex(index > 0 ? index - 1 : 0);
    }
    SendEditFlags();
}

void TInspectorForm::RenameSheet() {
    TSheetNameEditor editor(this);
    editor.NameEditor()->setText(m_doc.SheetName());
    editor.move(x() + width() / 2 - editor.width() / 2, y() + height() / 2 - editor.height() / 2);
    if (editor.exec() == QDialog::Accepted && !editor.NameEditor()->text().isEmpty()) {
        RenameCurrentSheet(editor.NameEditor()->text());
    }
}

void TInspectorForm::RenameCurrentSheet(const QString& name) {
    m_doc.SetSheetName(name);
    const int index = m_tabs->currentIndex();
    if (index >= 0) {
        showTabName(index, name);
    }
}

void TInspectorForm::SelectSheet(int index) {
    if (index < 0 || index >= m_doc.SheetCount()) {
        return;
    }
    {
        QSignalBlocker block(m_tabs);
        m_tabs->setCurrentIndex(index);
    }
    runSafely([&] { m_doc.SelectSheet(index); });
    m_grid->SetSheet(m_doc.CurrentSheet());
}

void TInspectorForm::TabControl1Change(int index) {
    if (index < 0 || index >= m_doc.SheetCount()) {
        return;
    }
    TBusyScope busy;
    runSafely([&] { m_doc.SelectSheet(index); });
    m_grid->SetSheet(m_doc.CurrentSheet());
}

void TInspectorForm::PasteToSheet(int sheetIndex, int row) {
    if (!m_clipboard) {
        return;
    }
    runSafely([&] { m_doc.PasteToSheet(sheetIndex, row, *m_clipboard); });
}

void TInspectorForm::DropOnTab(int tab, TOVStringGrid* rowsSource, bool tabSource) {
    if (tabSource) {
        MoveCurrentTab(tab);
        return;
    }
    if (!m_clipboard) {
        return;
    }
    m_clipboard->Fill();
    (void)rowsSource; // the source grid removed its rows while filling
    {
        TBusyScope busy;
        PasteToSheet(tab, -1);
    }
    GridCommandState();
}

void TInspectorForm::MoveCurrentTab(int target) {
    const int current = m_tabs->currentIndex();
    const int count = m_tabs->count();
    if (current < 0) {
        return;
    }
    // A drop beside the tabs moves the sheet to the end.
    if (target < 0 || target >= count) {
        target = count;
    }
    const int finalIndex = target > current ? target - 1 : target;
    if (finalIndex == current) {
        return;
    }
    {
        QSignalBlocker block(m_tabs);
        m_tabs->moveTab(current, finalIndex);
        m_tabs->setCurrentIndex(finalIndex);
    }
    m_doc.MoveSheet(current, target);
}

bool TInspectorForm::Save() {
    const QString name = m_doc.Save(y(), width(), x(), height(), StateCode());
    if (!name.isEmpty()) {
        setWindowTitle(QFileInfo(name).fileName());
    }
    RecordGeometry();
    return !name.isEmpty();
}

bool TInspectorForm::SaveAs() {
    const QString name = m_doc.SaveAs(y(), width(), x(), height(), StateCode());
    if (!name.isEmpty()) {
        setWindowTitle(QFileInfo(name).fileName());
    }
    RecordGeometry();
    return !name.isEmpty();
}

bool TInspectorForm::Open(const QString& path, const TControlFinder& findControl) {
    const bool opened = OpenInspectorFile(path, *this, findControl);
    RecordGeometry();
    return opened;
}

int TInspectorForm::StateCode() const {
    if (isMaximized()) {
        return TInspectorWindowSettings::StateMaximized;
    }
    if (isMinimized()) {
        return TInspectorWindowSettings::StateMinimized;
    }
    return TInspectorWindowSettings::StateNormal;
}

void TInspectorForm::HideSheets() {
    m_tabs->hide();
    m_grid->hide();
}

void TInspectorForm::ApplyWindowSettings(const TInspectorWindowSettings& settings) {
    move(settings.Left, settings.Top);
    resize(settings.Width, settings.Height);
    switch (settings.State) {
    case TInspectorWindowSettings::StateNormal:
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
        break;
    case TInspectorWindowSettings::StateMaximized:
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        break;
    case TInspectorWindowSettings::StateMinimized:
        setWindowState(windowState() | Qt::WindowMinimized);
        break;
    default:
        break;
    }
}

void TInspectorForm::ShowFirstSheet() {
    m_tabs->show();
    m_grid->show();
    SelectSheet(0);
}

void TInspectorForm::SetCaption(const QString& caption) {
    setWindowTitle(caption);
}

void TInspectorForm::SetInspectorName(const QString& name) {
    setObjectName(name);
    setWindowTitle(name);
}

void TInspectorForm::RecordGeometry() {
    m_windowSettings.Top = y();
    m_windowSettings.Left = x();
    m_windowSettings.Width = width();
    m_windowSettings.Height = height();
    m_windowSettings.State = StateCode();
}

void TInspectorForm::Cut() {
    m_grid->Cut();
}

void TInspectorForm::Copy() {
    m_grid->Copy();
}

void TInspectorForm::Paste() {
    m_grid->Paste();
}

int TInspectorForm::EditState() {
    return SheetHasRows() ? (esCut | esCopy | esPaste) : esPaste;
}

void TInspectorForm::Activated() {
    m_grid->Refresh();
    TOrvaneMDIForm::Activated();
}

void TInspectorForm::ApplyPrecision() {
    auto* settings = TInspectorInitialization::Instance();
    m_grid->SetDecimalPlaces(settings ? settings->DecimalPlaces()
                                      : TInspectorInitialization::kDefaultDecimalPlaces);
}

void TInspectorForm::SetModified(bool modified) {
    m_doc.SetModified(modified);
}

void TInspectorForm::GridCommandState() {
    if (isActiveWindow()) {
        SendEditFlags();
    }
}

void TInspectorForm::SendEditFlags() {
    NotifyEditState((SheetHasRows() ? (esCut | esCopy) : 0) | esPaste);
}

void TInspectorForm::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    if (m_doc.IsModified()) {
        const TModalResult answer = DialogService::current().messageBox(
            mtConfirmation, kSavePrompt + windowTitle(), mbYesNo);
        if (answer == mrYes) {
            Save();
        }
    }
    m_closing = true;
    if (auto* services = MainWindowServices()) {
        services->UpdateInspectorCommands(nullptr);
    }
    m_grid->ForgetSheet();
    event->accept();
}

void TInspectorForm::resizeEvent(QResizeEvent* event) {
    TOrvaneMDIForm::resizeEvent(event);
    // The place is saved in the file: a new size is a change of the document.
    if (m_created && !m_closing && isVisible() &&
        (width() != m_windowSettings.Width || height() != m_windowSettings.Height)) {
        m_doc.SetModified(true);
    }
    RecordGeometry();
}

void TInspectorForm::showEvent(QShowEvent* event) {
    TOrvaneMDIForm::showEvent(event);
    RecordGeometry();
}

void TInspectorForm::moveEvent(QMoveEvent* event) {
    TOrvaneMDIForm::moveEvent(event);
    RecordGeometry();
}

void TInspectorForm::changeEvent(QEvent* event) {
    TOrvaneMDIForm::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && !m_closing) {
        m_grid->Refresh();
    }
}

void TInspectorForm::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (event->key() == Qt::Key_Delete) {
        m_grid->DeleteSelected();
    } else if (ctrl && event->key() == Qt::Key_X) {
        if (SheetHasRows()) {
            Cut();
        }
    } else if (ctrl && event->key() == Qt::Key_C) {
        if (SheetHasRows()) {
            Copy();
        }
    } else if (ctrl && event->key() == Qt::Key_V) {
        Paste();
    } else {
        TOrvaneMDIForm::keyPressEvent(event);
        return;
    }
    event->accept();
}

} // namespace orvane
