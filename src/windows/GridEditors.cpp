#include "windows/GridEditors.h"

#include <type_traits>

#include <QLocale>

#include "bound/KISpinEdit.h"
#include "bound/KIStringEdit.h"
#include "bound/KITimerEdit.h"
#include "bound/KIToggleButton.h"

namespace orvane {

QString FixedPointText(const QString& text, int places) {
    if (text.isEmpty()) {
        return text;
    }
    // The server writes numbers with a point; a text in the engineer's own
    // notation is taken as well.
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = trimmed.toDouble(&ok);
    if (!ok) {
        value = QLocale().toDouble(trimmed, &ok);
    }
    if (!ok) {
        return text;
    }
    // Precision 9: the digits beyond the ninth significant one are noise.
    value = QString::number(value, 'g', 9).toDouble();
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', places);
}

namespace {

// A bound editor of the bound control library as the grid's value editor.
// The bound control shows the item's value, keeps what the engineer types,
// applies the I/O-lock rule and writes the value.
template <class Edit>
class TBoundGridEditor : public TGridValueEditor {
public:
    explicit TBoundGridEditor(QWidget* parent) : m_edit(new Edit(parent)) {}
    ~TBoundGridEditor() override { m_edit->SetItemName(QString()); }

    QWidget* Widget() override { return m_edit; }
    void Bind(TKIDevice* device, const QString& itemName) override {
        // Cleared first, so that the same name binds again.
        m_edit->SetItemName(QString());
        m_edit->SetDevice(device);
        if (device && !itemName.isEmpty()) {
            m_edit->SetItemName(itemName);
        }
    }
    void SetActive(bool active) override {
        m_edit->SetVisible(active);
        m_edit->SetEnabled(active);
        if constexpr (std::is_same_v<Edit, TKIStringEdit>) {
            if (!active) {
                m_edit->clear();
            }
        }
    }
    bool IsActive() const override { return m_edit->Visible() && m_edit->Enabled(); }
    void SetDecimalPlaces(int places) override {
        if constexpr (std::is_same_v<Edit, TKISpinEdit>) {
            m_edit->SetDecimalPlaces(places);
        } else {
            (void)places;
        }
    }
    QString Text() const override {
        if constexpr (std::is_same_v<Edit, TKISpinEdit>) {
            return m_edit->Edit()->text();
        } else if constexpr (std::is_same_v<Edit, TKIStringEdit>) {
            return m_edit->text();
        } else if constexpr (std::is_same_v<Edit, TKIToggleButton>) {
            return m_edit->ButtonOn() ? m_edit->OnText() : m_edit->OffText();
        } else {
            return m_edit->Timer().Text();
        }
    }
    Edit* Control() const { return m_edit; }

private:
    Edit* m_edit; // a Qt child of the grid
};

constexpr int kSpinHeight = 24;
constexpr int kToggleHeight = 18;
constexpr int kGridSpinDecimals = 16;
const QColor kToggleGrey(192, 192, 192);

} // namespace

std::unique_ptr<TGridValueEditor> CreateGridValueEditor(TGridEditorKind kind, QWidget* parent) {
    switch (kind) {
    case TGridEditorKind::Spin: {
        auto editor = std::make_unique<TBoundGridEditor<TKISpinEdit>>(parent);
        editor->Control()->setFixedHeight(kSpinHeight);
        editor->Control()->SetDecimalPlaces(kGridSpinDecimals);
        return editor;
    }
    case TGridEditorKind::String: {
        auto editor = std::make_unique<TBoundGridEditor<TKIStringEdit>>(parent);
        editor->Control()->setFixedHeight(kSpinHeight);
        return editor;
    }
    case TGridEditorKind::Toggle: {
        auto editor = std::make_unique<TBoundGridEditor<TKIToggleButton>>(parent);
        TKIToggleButton* toggle = editor->Control();
        toggle->setFixedHeight(kToggleHeight);
        toggle->SetOffText(QStringLiteral("False"));
        toggle->SetOnText(QStringLiteral("True"));
        toggle->SetOffColor(kToggleGrey);
        toggle->SetOnColor(kToggleGrey);
        return editor;
    }
    case TGridEditorKind::Timer:
    default: {
        auto editor = std::make_unique<TBoundGridEditor<TKITimerEdit>>(parent);
        editor->Control()->setFixedHeight(kSpinHeight);
        return editor;
    }
    }
}

} // namespace orvane
