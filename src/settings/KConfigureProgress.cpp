#include "settings/KConfigureProgress.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

namespace orvane {

namespace {
constexpr int kStep = 1;
constexpr int kDefaultMaximum = 100;
} // namespace

TKConfigProgress::TKConfigProgress(QWidget* parent)
    : QDialog(parent), m_fileName(new QLabel(this)), m_bar(new QProgressBar) {
    setWindowTitle(tr("Configure Progress"));
    setObjectName(QStringLiteral("ConfigProgress"));
    // No help or close button of its own; the window goes when the work ends.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kProgressWidth, kProgressHeight);

    auto* caption = new QLabel(tr("File Name:"), this);
    m_fileName->setObjectName(QStringLiteral("FileName"));
    auto* top = new QHBoxLayout;
    top->addWidget(caption);
    top->addWidget(m_fileName, 1);

    auto* bevel = new QFrame(this);
    bevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* inner = new QVBoxLayout(bevel);
    m_bar->setRange(0, kDefaultMaximum);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    inner->addWidget(m_bar);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(bevel);
}

TKConfigProgress::~TKConfigProgress() = default;

void TKConfigProgress::InitProgress(int maximum, const QString& fileName) {
    m_bar->setRange(0, std::max(0, maximum));
    m_bar->setValue(0);
    m_fileName->setText(fileName);
}

void TKConfigProgress::InitProgress(int maximum, const QString& fileName, const QString& caption) {
    InitProgress(maximum, fileName);
    setWindowTitle(caption);
}

void TKConfigProgress::Step() {
    m_bar->setValue(std::min(m_bar->value() + kStep, m_bar->maximum()));
}

int TKConfigProgress::Position() const {
    return m_bar->value();
}

int TKConfigProgress::Maximum() const {
    return m_bar->maximum();
}

QString TKConfigProgress::FileNameText() const {
    return m_fileName->text();
}

void TKConfigProgress::ShowCentred() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    show();
}

void TKConfigProgress::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void TKConfigProgress::reject() {}

} // namespace orvane
