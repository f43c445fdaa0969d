// Orvane: service tool for the controls of a Duxlane control network.

#include <QApplication>

#include "windows/Glyphs.h"
#include "windows/Main.h"
#include "windows/MainInspectors.h"
#include "windows/MainTrends.h"
#include "windows/OrvaneMDIForm.h"

#include "platform/QtDialogService.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setOrganizationName(QStringLiteral("Kestova"));
    // Message boxes and file dialogs of every layer are Qt's from here on.
    orvane::QtDialogService dialogs;
    QApplication::setWindowIcon(orvane::OrvaneIcon(orvane::TGlyph::Logo));

    // The inspector settings exist before any window and until the end.
    orvane::TInspectorInitialization settings;
    orvane::TInspectorInitialization::SetInstance(&settings);
    int result = 0;
    {
        orvane::TMainForm mainForm;
        new orvane::TMainInspectors(&mainForm); // children of the main window
        new orvane::TMainTrends(&mainForm);
        mainForm.show();
        result = QApplication::exec();
    }
    orvane::TInspectorInitialization::SetInstance(nullptr);
    return result;
}
