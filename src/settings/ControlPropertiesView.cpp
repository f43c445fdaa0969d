#include "settings/ControlPropertiesView.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include "model/KIDuxlaneControl.h"

namespace orvane {

namespace {

const char* const kRowLabels[TControlProperties::kRowCount] = {
    "System:",   "Application:",       "Configuration:",  "Product:",
    "Protocol:", "Operational State:", "Communications:",
};
const char* const kRowNames[TControlProperties::kRowCount] = {
    "SystemID",   "ApplicationID",    "ConfigurationID", "ProductID",
    "ProtocolID", "OperationalState", "Communications",
};

QFont Bold(QFont font) {
    font.setBold(true);
    return font;
}

} // namespace

TControlProperties::TControlProperties(QWidget* parent)
    : QDialog(parent), m_closeButton(new QPushButton(QStringLiteral("Close"), this)),
      m_copyButton(new QPushButton(QStringLiteral("Copy"), this)) {
    setObjectName(QStringLiteral("ControlProperties"));
    // Only the system menu's close box: no help, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);

    auto* group = new QGroupBox(QStringLiteral("Control Properties"), this);
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    for (int row = 0; row < kRowCount; ++row) {
        auto* label = new QLabel(QString::fromLatin1(kRowLabels[row]), group);
        label->setFont(Bold(label->font()));
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        auto* value = new QLabel(group);
        value->setObjectName(QString::fromLatin1(kRowNames[row]));
        value->setFont(Bold(value->font()));
        value->setWordWrap(true);
        value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1);
        m_labels[static_cast<size_t>(row)] = label;
        m_values[static_cast<size_t>(row)] = value;
    }
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(kRowCount, 1);

    m_closeButton->setObjectName(QStringLiteral("CloseButton"));
    m_closeButton->setDefault(true);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    m_copyButton->setObjectName(QStringLiteral("CopyButton"));
    m_copyButton->setAutoDefault(false);
    connect(m_copyButton, &QPushButton::clicked, this, [this] { CopyToClipboard(); });
    auto* copyShortcut = new QShortcut(QKeySequence::Copy, this);
    connect(copyShortcut, &QShortcut::activated, this, [this] { CopyToClipboard(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_copyButton);
    buttons->addStretch(1);
    buttons->addWidget(m_closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group, 1);
    layout->addLayout(buttons);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TControlProperties::~TControlProperties() = default;

void TControlProperties::Fill(TKIDuxlaneControl* control) {
    setWindowTitle(control->Identifier() + QStringLiteral(" Properties"));
    // Each value is shown as soon as its read is back; the reads wait with
    // the event loop running.
    m_values[0]->setText(control->SystemID());
    m_values[1]->setText(control->ApplicationID());
    m_values[2]->setText(control->ConfigurationID());
    m_values[3]->setText(control->ProductID());
    m_values[4]->setText(control->ProtocolID());
    m_values[5]->setText(control->InConfigureMode() ? QStringLiteral("I/O Locked")
                                                    : QStringLiteral("I/O Active"));
    m_values[6]->setText(control->ControlStatus() ? QStringLiteral("Ok")
                                                  : QStringLiteral("Not Communicating"));
}

QString TControlProperties::LabelText(int row) const {
    return m_labels.at(static_cast<size_t>(row))->text();
}

QString TControlProperties::ValueText(int row) const {
    return m_values.at(static_cast<size_t>(row))->text();
}

QString TControlProperties::AsText() const {
    QString text = windowTitle() + QStringLiteral("\r\n");
    for (int row = 0; row < kRowCount; ++row) {
        text += LabelText(row) + QLatin1Char('\t') + ValueText(row) + QStringLiteral("\r\n");
    }
    return text;
}

void TControlProperties::CopyToClipboard() const {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setText(AsText());
    }
}

} // namespace orvane
