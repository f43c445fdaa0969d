#pragma once

// TAboutBox: the About box (Help > About...): product name, a notice, the
// maker's address, the logo and the version line of this build. Modal,
// centred on the screen, made for each use.

#include <QDialog>

class QLabel;

namespace orvane {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // "Version: " + major + "." + minor + "." + release + " Build: " + build.
    static QString VersionLine(int major, int minor, int release, int build);
    // The version line of this program.
    static QString ProgramVersionLine();

    QString ProductText() const;
    QString VersionText() const;

private:
    QLabel* m_product = nullptr;
    QLabel* m_version = nullptr;
};

} // namespace orvane
