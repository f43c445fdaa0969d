#pragma once

// THelpWindow: the user guide, pages of HTML beside the executable, shown in a
// window with Contents, Back and Forward. One per main window, reused.

#include <QWidget>

class QTextBrowser;

namespace orvane {

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* owner);

    // Shows the page (a file path), brings the window up.
    void ShowTopic(const QString& path);
    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser;
    QString m_home;
};

} // namespace orvane
