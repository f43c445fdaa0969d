#include "platform/StatusBar.h"

#include <QLabel>

namespace orvane {

QString TStatusPanel::Text() const {
    return m_label->text();
}

void TStatusPanel::SetText(const QString& text) {
    m_label->setText(text);
}

int TStatusPanel::Width() const {
    return m_label->minimumWidth();
}

void TStatusPanel::SetWidth(int width) {
    m_label->setMinimumWidth(width);
}

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
}

// Registered objects hear of the end while the panels still exist.
TStatusBar::~TStatusBar() {
    NotifyDestruction();
}

TStatusPanel* TStatusBar::AddPanel(int width) {
    auto* label = new QLabel(this);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(width);
    addWidget(label);
    m_panels.push_back(std::unique_ptr<TStatusPanel>(
        new TStatusPanel(this, static_cast<int>(m_panels.size()), label)));
    return m_panels.back().get();
}

TStatusPanel* TStatusBar::Panel(int index) const {
    if (index < 0 || index >= PanelCount()) {
        throw EListError::outOfBounds(index);
    }
    return m_panels[static_cast<std::size_t>(index)].get();
}

} // namespace orvane
