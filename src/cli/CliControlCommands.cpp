// The commands on one control and its variables: controls, list, read,
// write, reset, lock-io, save-values and properties.

#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>

#include "cli/CliCommand.h"
#include "cli/CliDialogService.h"
#include "cli/CliRun.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIItem.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"

namespace orvane::cli {

namespace {

// The identification rows of a control, in the order of its properties
// window.
struct ControlRow {
    const char* label;
    const char* key;
};
const ControlRow kIdentityRows[] = {
    {"System:", "system"},
    {"Application:", "application"},
    {"Configuration:", "configuration"},
    {"Product:", "product"},
    {"Protocol:", "protocol"},
    {"Operational State:", "operationalState"},
    {"Communications:", "communications"},
};

// Reads the rows of the properties window; raises what the reads raise.
QStringList ReadIdentity(TKIDuxlaneControl* control) {
    QStringList values;
    values << control->SystemID() << control->ApplicationID() << control->ConfigurationID()
           << control->ProductID() << control->ProtocolID();
    values << (control->InConfigureMode() ? QStringLiteral("I/O Locked")
                                          : QStringLiteral("I/O Active"));
    values << (control->ControlStatus() ? QStringLiteral("Ok")
                                        : QStringLiteral("Not Communicating"));
    return values;
}

// Holds an item of a control for the life of the scope.
class ItemClaim {
public:
    ItemClaim(TKIDuxlaneControl* control, const QString& name)
        : m_control(control), m_item(control->AcquireItem(name)) {}
    ~ItemClaim() { m_control->ReleaseItem(m_item->Name()); }
    ItemClaim(const ItemClaim&) = delete;
    ItemClaim& operator=(const ItemClaim&) = delete;
    TKIItem* operator->() const { return m_item; }
    TKIItem* get() const { return m_item; }
    TKIDuxlaneItem* Duxlane() const { return dynamic_cast<TKIDuxlaneItem*>(m_item); }

private:
    TKIDuxlaneControl* m_control;
    TKIItem* m_item;
};

bool ListContains(const QStringList& list, const QString& name) {
    for (const QString& entry : list) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// Why a number is not written, as the program's editors tell it before they
// write: outside the item's limits. Empty when the value is within them or
// the item has no numeric limits; the control judges everything else.
QString OutsideLimits(const QString& value, const QString& name, TKIDuxlaneItem* item) {
    const ItemDataType type = item->DataType();
    if (type != vdtInteger && type != vdtReal) {
        return QString();
    }
    bool okValue = false;
    bool okMin = false;
    bool okMax = false;
    QString normal = value.trimmed();
    normal.replace(QLatin1Char(','), QLatin1Char('.'));
    const double number = QLocale::c().toDouble(normal, &okValue);
    const double minimum = QLocale::c().toDouble(item->MinValue().toString(), &okMin);
    const double maximum = QLocale::c().toDouble(item->MaxValue().toString(), &okMax);
    if (!okValue || !okMin || !okMax || maximum <= minimum) {
        return QString();
    }
    if (number < minimum || number > maximum) {
        return QStringLiteral("%1 is outside the limits of %2 (%3 to %4).")
            .arg(value, name, item->MinValue().toString(), item->MaxValue().toString());
    }
    return QString();
}

// The end of a reset the tool waits for. Kept for the life of the process:
// a control that outlives a timed-out wait may still call it.
struct ResetWaiter {
    bool done = false;
    void Done(TKIDuxlaneControl*) { done = true; }
};

} // namespace

int RunControls(const Invocation& invocation, CliSession& session, Output& out) {
    session.ConnectAll();
    int status = kExitOk;
    QJsonArray array;
    TextTable table({QStringLiteral("CONTROL"), QStringLiteral("SYSTEM"),
                     QStringLiteral("APPLICATION"), QStringLiteral("CONFIGURATION"),
                     QStringLiteral("PRODUCT"), QStringLiteral("PROTOCOL"),
                     QStringLiteral("RUN MODE"), QStringLiteral("STATUS")});
    for (TKIDuxlaneControl* control : session.Server().Controls()) {
        QStringList values;
        if (control->Active()) {
            try {
                values = ReadIdentity(control);
            } catch (const Exception& error) {
                Message(
                    QStringLiteral("Error: %1: %2").arg(control->Identifier(), error.message()));
                values.clear();
            }
        }
        if (values.isEmpty()) {
            status = kExitUnreachable;
            values = QStringList{QString(),
                                 QString(),
                                 QString(),
                                 QString(),
                                 QString(),
                                 QString(),
                                 QStringLiteral("Not Communicating")};
        }
        QJsonObject object;
        object.insert(QStringLiteral("control"), control->Identifier());
        for (int i = 0; i < values.size(); ++i) {
            object.insert(QLatin1String(kIdentityRows[i].key), values[i]);
        }
        array.append(object);
        table.AddRow(QStringList{control->Identifier()} + values);
    }
    if (invocation.json) {
        out.Json(array);
    } else {
        table.Print(out);
    }
    return status;
}

int RunList(const Invocation& invocation, CliSession& session, Output& out) {
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QStringList names =
        invocation.mutableOnly ? control->GetMutableItemList() : control->GetTopicItemList();
    QJsonArray array;
    TextTable table({QStringLiteral("ITEM"), QStringLiteral("CLASS"), QStringLiteral("TYPE"),
                     QStringLiteral("MIN"), QStringLiteral("MAX")});
    for (const QString& name : names) {
        if (!invocation.filter.isEmpty() &&
            !name.contains(invocation.filter, Qt::CaseInsensitive)) {
            continue;
        }
        ItemClaim item(control, name);
        QString className = ClassName(vctUnassigned);
        QString typeName = DataTypeName(vdtUnassigned);
        QString minimum;
        QString maximum;
        if (TKIDuxlaneItem* duxlane = item.Duxlane()) {
            className = ClassName(duxlane->ItemClassType());
            typeName = DataTypeName(duxlane->DataType());
            minimum = duxlane->MinValue().toString();
            maximum = duxlane->MaxValue().toString();
        }
        QJsonObject object;
        object.insert(QStringLiteral("item"), name);
        object.insert(QStringLiteral("class"), className);
        object.insert(QStringLiteral("type"), typeName);
        object.insert(QStringLiteral("min"), minimum);
        object.insert(QStringLiteral("max"), maximum);
        array.append(object);
        table.AddRow({name, className, typeName, minimum, maximum});
    }
    if (invocation.json) {
        out.Json(array);
    } else {
        table.Print(out);
    }
    return kExitOk;
}

int RunRead(const Invocation& invocation, CliSession& session, Output& out) {
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QStringList names = invocation.arguments.mid(1);
    int status = kExitOk;
    QJsonArray array;
    for (const QString& name : names) {
        QJsonObject object;
        object.insert(QStringLiteral("item"), name);
        try {
            ItemClaim item(control, name);
            const QString value = item->Value().toString();
            object.insert(QStringLiteral("value"), value);
            if (!invocation.json) {
                // One item: the bare value, for $(orvane-cli read ...).
                out.Line(names.size() == 1 ? value : name + QLatin1Char('\t') + value);
            }
        } catch (const Exception& error) {
            RaiseIfUnreachable(error);
            Message(QStringLiteral("Error: %1: %2").arg(name, error.message()));
            object.insert(QStringLiteral("error"), error.message());
            status = kExitDifference;
        }
        array.append(object);
    }
    if (invocation.json) {
        out.Json(array);
    }
    return status;
}

int RunWrite(const Invocation& invocation, CliSession& session, Output& out) {
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QString name = invocation.arguments[1];
    const QString value = invocation.arguments[2];
    if (!ListContains(control->GetTopicItemList(), name)) {
        throw CliError(kExitDifference, QStringLiteral("Error: Control %1 has no item \"%2\".")
                                            .arg(control->Identifier(), name));
    }
    ItemClaim item(control, name);
    if (TKIDuxlaneItem* duxlane = item.Duxlane()) {
        // The rules the program's editors keep: monitor values are the
        // control's own, configure values change only under I/O lock.
        if (duxlane->ItemClassType() == vctMonitor) {
            throw CliError(
                kExitDifference,
                QStringLiteral("Error: %1 is a monitor variable and cannot be written.").arg(name));
        }
        if (duxlane->ItemClassType() == vctConfigure && !control->InConfigureMode()) {
            throw CliError(kExitDifference,
                           QStringLiteral("Error: %1 is a configure variable: control %2 must be "
                                          "in I\\O lock before it is written.")
                               .arg(name, control->Identifier()));
        }
    }
    if (TKIDuxlaneItem* duxlane = item.Duxlane()) {
        const QString outside = OutsideLimits(value, name, duxlane);
        if (!outside.isEmpty()) {
            throw CliError(kExitDifference, QStringLiteral("Error: ") + outside);
        }
    }
    if (value.size() > kPokeBufferChars) {
        throw CliError(
            kExitUsage,
            QStringLiteral("Error: the value is longer than %1 characters.").arg(kPokeBufferChars));
    }
    try {
        item->SetValueAndWait(QVariant(value));
    } catch (const Exception& error) {
        RaiseIfUnreachable(error);
        throw CliError(
            kExitDifference,
            QStringLiteral("Error: %1 refused %2: %3").arg(name, value, error.message()));
    }
    const QString readBack = item->Value().toString();
    if (invocation.json) {
        QJsonObject object;
        object.insert(QStringLiteral("item"), name);
        object.insert(QStringLiteral("written"), value);
        object.insert(QStringLiteral("value"), readBack);
        out.Json(object);
    } else {
        out.Line(readBack);
    }
    return kExitOk;
}

int ResetControl(CliSession& session, TKIDuxlaneControl* control, bool saveFirst) {
    if (saveFirst) {
        control->SaveValues();
    }
    static ResetWaiter waiter;
    waiter.done = false;
    {
        // The reset waits for the server to end the hot links with the event
        // loop standing still.
        CliSession::StallAllowed pause(session);
        control->ResetWithNotify(TKIDuxlaneControlEvent(&waiter, &ResetWaiter::Done));
    }
    // The control's own polls end the reset; the tool's bound lies beyond them.
    const TKIDuxlaneControl::Timing timing = TKIDuxlaneControl::timing();
    const int bound =
        timing.resetPauseMs + timing.resetPolls * timing.resetPollIntervalMs + session.TimeoutMs();
    if (!session.WaitUntil([] { return waiter.done; }, bound) ||
        control->CommandState() != kCommandStateReady) {
        messageDlg(control->Identifier() +
                       QStringLiteral(" is not responding after reset.  The application will be "
                                      "terminated."),
                   mtError, mbOK);
        return kExitUnreachable;
    }
    messageDlg(control->Identifier() + QStringLiteral(" is Reset"), mtInformation, mbOK);
    return kExitOk;
}

int RunReset(const Invocation& invocation, CliSession& session, CliDialogService&) {
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QString name = control->Identifier();
    if (!control->InConfigureMode()) {
        messageDlg(QStringLiteral("Control ") + name +
                       QStringLiteral(" must be in I\\O lock before resetting."),
                   mtError, mbOK);
        return kExitDifference;
    }
    bool saveFirst = false;
    if (!invocation.noSave) {
        const TModalResult answer =
            messageDlg(QStringLiteral("Do you want to save values before resetting ") + name +
                           QLatin1Char('?'),
                       mtConfirmation, mbYesNoCancel);
        if (answer == mrCancel) {
            return kExitUsage;
        }
        saveFirst = answer == mrYes;
    }
    return ResetControl(session, control, saveFirst);
}

int RunLockIo(const Invocation& invocation, CliSession& session, CliDialogService&) {
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QString name = control->Identifier();
    if (messageDlg(QStringLiteral("This will cause an I\\O lock in control ") + name +
                       QStringLiteral(". Are you sure you want to continue?"),
                   mtConfirmation, mbYesNo) != mrYes) {
        return kExitUsage;
    }
    control->Shutdown();
    messageDlg(name + QStringLiteral(" has it's I\\O locked."), mtInformation, mbOK);
    return kExitOk;
}

int RunSaveValues(const Invocation& invocation, CliSession& session, CliDialogService&) {
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    if (messageDlg(QStringLiteral("Are you sure you want to save values in control ") +
                       control->Identifier() + QLatin1Char('?'),
                   mtConfirmation, mbYesNo) != mrYes) {
        return kExitUsage;
    }
    control->SaveValues();
    messageDlg(QStringLiteral("Save values is finished"), mtInformation, mbOK);
    return kExitOk;
}

int RunProperties(const Invocation& invocation, CliSession& session, Output& out) {
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QStringList values = ReadIdentity(control);
    if (invocation.json) {
        QJsonObject object;
        object.insert(QStringLiteral("control"), control->Identifier());
        for (int i = 0; i < values.size(); ++i) {
            object.insert(QLatin1String(kIdentityRows[i].key), values[i]);
        }
        out.Json(object);
        return kExitOk;
    }
    out.Line(control->Identifier() + QStringLiteral(" Properties"));
    for (int i = 0; i < values.size(); ++i) {
        out.Line(QString::fromLatin1(kIdentityRows[i].label).rightJustified(19) + QLatin1Char(' ') +
                 values[i]);
    }
    return kExitOk;
}

} // namespace orvane::cli
