// Orvane: service tool for the controls of a Duxlane control network.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

#include "platform/QtDialogService.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setOrganizationName(QStringLiteral("Kestova"));
    // Message boxes and file dialogs of every layer are Qt's from here on.
    orvane::QtDialogService dialogs;

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Orvane"));
    auto* label = new QLabel(QStringLiteral("Not connected to the Duxlane server yet."), &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.statusBar()->showMessage(QStringLiteral("Not Active."));
    window.resize(640, 200);
    window.show();
    return QApplication::exec();
}
