#include "windows/NetworkFilesDialog.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/DialogService.h"

namespace orvane {

TNetworkFilesDialog::TNetworkFilesDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("NetworkFilesDialog"));
    setWindowTitle(QStringLiteral("Select Network Definition Files"));
    resize(460, 260);

    auto* label = new QLabel(QStringLiteral("&Files"), this);
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    label->setBuddy(m_list);

    auto* add = new QPushButton(QStringLiteral("&Add ..."), this);
    m_delete = new QPushButton(QStringLiteral("&Delete"), this);
    auto* ok = new QPushButton(QStringLiteral("&Ok"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(m_delete);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(label);
    listColumn->addWidget(m_list, 1);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(listColumn, 1);
    layout->addLayout(buttons);

    connect(add, &QPushButton::clicked, this, &TNetworkFilesDialog::AddClick);
    connect(m_delete, &QPushButton::clicked, this, &TNetworkFilesDialog::DeleteClick);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &TNetworkFilesDialog::updateButtons);
    updateButtons();
}

QStringList TNetworkFilesDialog::Files() const {
    QStringList files;
    for (int i = 0; i < m_list->count(); ++i) {
        files << m_list->item(i)->text();
    }
    return files;
}

void TNetworkFilesDialog::SetFiles(const QStringList& files) {
    m_list->clear();
    m_list->addItems(files);
    updateButtons();
}

void TNetworkFilesDialog::AddClick() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Add Network Definition File");
    request.initialDir = QStringLiteral("..\\Duxlane Server");
    request.filter = QStringLiteral("Network Definition Files (*.net)|*.net|All Files (*.*)|*.*");
    request.defaultExt = QStringLiteral("net");
    request.options = ofHideReadOnly | ofFileMustExist;
    const std::optional<QString> file = DialogService::current().openFile(request);
    if (file && !file->isEmpty()) {
        m_list->addItem(QDir::toNativeSeparators(*file));
        updateButtons();
    }
}

void TNetworkFilesDialog::DeleteClick() {
    for (int i = 0; i < m_list->count(); ++i) {
        if (m_list->item(i)->isSelected()) {
            delete m_list->takeItem(i);
            break;
        }
    }
    updateButtons();
}

void TNetworkFilesDialog::updateButtons() {
    m_delete->setEnabled(!m_list->selectedItems().isEmpty());
}

} // namespace orvane
