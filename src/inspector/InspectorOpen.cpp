#include "inspector/InspectorOpen.h"

#include <algorithm>

#include <QStringList>

#include "inspector/InspectorDoc.h"
#include "inspector/InspectorLog.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"

namespace orvane {

TInspectorOpenTarget::~TInspectorOpenTarget() = default;

QString ControlDoesNotExistText(const QString& deviceName) {
    return deviceName + QLatin1Char(' ') + QStringLiteral("control does not exist.");
}

namespace {

// The file's name without its folder (either kind of separator).
QString fileNameOnly(const QString& path) {
    const qsizetype slash =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(slash + 1);
}

} // namespace

bool OpenInspectorFile(const QString& path, TInspectorOpenTarget& target,
                       const TControlFinder& findControl) {
    target.HideSheets();

    TInspectorFile file;
    if (!file.Open(path)) {
        showError(TInspectorDoc::FileErrorText());
        return false;
    }

    TInspectorWindowSettings settings;
    file.ReadWindowSettings(settings); // the conversion error passes to the caller
    if (settings.Height != -1) {
        target.ApplyWindowSettings(settings);
    }

    TInspectorDoc& doc = target.Document();
    QStringList absentControls;
    bool firstSheet = true;
    for (;;) {
        const TInspectorFile::Record record = file.Next();
        if (record == TInspectorFile::RecordEnd) {
            break;
        }
        if (record == TInspectorFile::RecordError) {
            qCInfo(lcInspector) << path << "line" << file.LineNumber() << "is malformed";
            showError(TInspectorFile::FormatErrorText());
            return false;
        }
        if (record == TInspectorFile::RecordSheet) {
            if (!firstSheet) {
                target.AddSheet();
            }
            firstSheet = false;
            target.RenameCurrentSheet(file.SheetName());
            continue;
        }
        TKIDevice* const control = findControl ? findControl(file.DeviceName()) : nullptr;
        if (control != nullptr) {
            doc.AddVariable(file.ItemName(), file.Description(), control);
        } else if (!absentControls.contains(file.DeviceName(), Qt::CaseSensitive)) {
            absentControls.append(file.DeviceName());
        }
    }

    for (const QString& name : absentControls) {
        showError(ControlDoesNotExistText(name));
    }

    target.ShowFirstSheet();
    doc.SetFileName(path);
    target.SetCaption(fileNameOnly(path));
    return true;
}

bool OpenInspectorFile(const QString& path, TInspectorOpenTarget& target, const TServer& server) {
    return OpenInspectorFile(path, target, [&server](const QString& name) -> TKIDevice* {
        return server.FindControl(name);
    });
}

} // namespace orvane
