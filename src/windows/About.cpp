#include "windows/About.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "windows/Glyphs.h"

#ifndef ORVANE_VERSION_MAJOR
#define ORVANE_VERSION_MAJOR 0
#define ORVANE_VERSION_MINOR 0
#define ORVANE_VERSION_PATCH 0
#define ORVANE_VERSION_TWEAK 0
#endif

namespace orvane {

QString TAboutBox::VersionLine(int major, int minor, int release, int build) {
    return QStringLiteral("Version: ") + QString::number(major) + QLatin1Char('.') +
           QString::number(minor) + QLatin1Char('.') + QString::number(release) + QLatin1Char(' ') +
           QStringLiteral("Build: ") + QString::number(build);
}

QString TAboutBox::ProgramVersionLine() {
    return VersionLine(ORVANE_VERSION_MAJOR, ORVANE_VERSION_MINOR, ORVANE_VERSION_PATCH,
                       ORVANE_VERSION_TWEAK);
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About Orvane"));
    setModal(true);

    auto* logo = new QLabel(this);
    logo->setPixmap(OrvaneIcon(TGlyph::Logo).pixmap(64, 64));
    logo->setAlignment(Qt::AlignTop);

    m_product = new QLabel(QStringLiteral("Orvane") + QStringLiteral(" Professional"), this);
    QFont big = m_product->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    m_product->setFont(big);
    m_version = new QLabel(ProgramVersionLine(), this);
    auto* notice =
        new QLabel(QStringLiteral("Service tool for the controls of a Duxlane control network.\n"
                                  "Copyright \u00a9 Kestova. All rights reserved."),
                   this);
    auto* web = new QLabel(QStringLiteral("www.kestova.example"), this);
    web->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* text = new QVBoxLayout;
    text->addWidget(m_product);
    text->addWidget(m_version);
    text->addSpacing(8);
    text->addWidget(notice);
    text->addWidget(web);
    auto* top = new QHBoxLayout;
    top->addWidget(logo);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    buttons->button(QDialogButtonBox::Close)->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}

QString TAboutBox::ProductText() const {
    return m_product->text();
}

QString TAboutBox::VersionText() const {
    return m_version->text();
}

} // namespace orvane
