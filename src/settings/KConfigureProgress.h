#pragma once

// TKConfigProgress: the small window that shows how far the settings engine
// has got with a settings file or a report: the caption "Configure Progress",
// "File Name:" and the file's name, and below them, in a sunken frame, a
// progress bar (0 to 100, step 1 until InitProgress sets the maximum).
//
// The user cannot close it (the close button and Escape are refused): it
// lives exactly as long as the operation, which creates it, shows it modeless
// and frees it. Centred on the screen, client area kProgressWidth by
// kProgressHeight pixels.
//
// Thread: main thread only. Owned by whoever creates it (no Qt parent needed).

#include <QDialog>
#include <QString>

class QCloseEvent;
class QLabel;
class QProgressBar;

namespace orvane {

constexpr int kProgressWidth = 304;
constexpr int kProgressHeight = 82;

class TKConfigProgress : public QDialog {
    Q_OBJECT

public:
    explicit TKConfigProgress(QWidget* parent = nullptr);
    ~TKConfigProgress() override;

    // Sets the bar's maximum (position back to 0) and the file name shown.
    void InitProgress(int maximum, const QString& fileName);
    // The same and the window caption (the report's "Creating Report").
    void InitProgress(int maximum, const QString& fileName, const QString& caption);
    // Advances the bar by one step; it stays at its maximum once there.
    void Step();

    int Position() const;
    int Maximum() const;
    QString FileNameText() const;

    // Shows the window centred on the screen, without waiting.
    void ShowCentred();

protected:
    // Refused: the window ends with its operation, not with the user.
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QLabel* m_fileName;
    QProgressBar* m_bar;
};

} // namespace orvane
