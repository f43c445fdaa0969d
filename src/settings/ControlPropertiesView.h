#pragma once

// TControlProperties: the "<control> Properties" window: the control's
// identification (system, application, configuration, product and protocol
// identifiers) and its operational and communication state, in seven rows of
// a "Control Properties" group, with a "Close" button. "Copy" puts the rows on
// the clipboard as text, one "label TAB value" line each, for a service
// report.
//
// Fill() reads the control's items synchronously, in row order, and shows
// each value once its read completes; a failing read raises its error (the
// caller shows it and does not show the window). The window is created on
// demand, filled from one control, shown modally and freed after it closes.
//
// Thread: main thread only. The control is only read during Fill(), not kept.

#include <array>

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace orvane {

class TKIDuxlaneControl;

class TControlProperties : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidth = 364;
    static constexpr int kHeight = 326;
    static constexpr int kRowCount = 7;

    explicit TControlProperties(QWidget* parent = nullptr);
    ~TControlProperties() override;

    // Sets the caption and reads the seven values from the control.
    void Fill(TKIDuxlaneControl* control);

    QString LabelText(int row) const;
    QString ValueText(int row) const;
    // The caption and the rows as CR LF separated "label TAB value" lines.
    QString AsText() const;
    // Puts AsText() on the clipboard.
    void CopyToClipboard() const;

private:
    std::array<QLabel*, kRowCount> m_labels{};
    std::array<QLabel*, kRowCount> m_values{};
    QPushButton* m_closeButton;
    QPushButton* m_copyButton;
};

} // namespace orvane
