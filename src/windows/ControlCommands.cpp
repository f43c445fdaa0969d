#include "windows/ControlCommands.h"

#include <memory>

#include "model/KIDuxlaneControl.h"
#include "platform/Component.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/StatusBar.h"
#include "settings/ControlPropertiesView.h"
#include "windows/CtrlApp.h"
#include "windows/CtrlCfg.h"
#include "windows/WindowsLog.h"
#include "windows/WindowsScope.h"

namespace orvane {

namespace {

const QString kResetting = QStringLiteral("Resetting...");

// The questions and messages of the commands. "I\O" is the system's own
// spelling.
QString NotLockedText(const QString& name) {
    return QStringLiteral("Control ") + name +
           QStringLiteral(" must be in I\\O lock before resetting.");
}
QString SaveBeforeResetText(const QString& name) {
    return QStringLiteral("Do you want to save values before resetting ") + name +
           QStringLiteral("?");
}
QString NotRespondingText(const QString& name) {
    return name + QStringLiteral(" is not responding after reset.  The application will be "
                                 "terminated.");
}
QString IsResetText(const QString& name) {
    return name + QStringLiteral(" is Reset");
}
QString LockQuestionText(const QString& name) {
    return QStringLiteral("This will cause an I\\O lock in control ") + name +
           QStringLiteral(". Are you sure you want to continue?");
}
QString LockedText(const QString& name) {
    return name + QStringLiteral(" has it's I\\O locked.");
}
QString SaveValuesQuestionText(const QString& name) {
    return QStringLiteral("Are you sure you want to save values in control ") + name +
           QStringLiteral("?");
}
const QString kSaveValuesDone = QStringLiteral("Save values is finished");
const QString kCloseInspectorsQuestion =
    QStringLiteral("All Inspectors must be closed prior to application loading; Do you want to "
                   "close all inspectors?");
const QString kApplicationChanged = QStringLiteral(
    "The application has changed in the control and the connection may not be valid. The Orvane "
    "will be closed and you may need to create a new Network Definition file in the Server.");
QString LoadQuestionText(const QString& name) {
    return QStringLiteral("Loading the application settings from a file will cause control ") +
           name + QStringLiteral(" to lock I\\O.  Are you sure you want to proceed?");
}
QString ResetAfterLoadText(const QString& name) {
    return QStringLiteral("Load of the application settings to the control is finished. Would "
                          "you like to reset control ") +
           name + QStringLiteral("?");
}

// The program's display of an error that ends a command.
void ShowCommandError(const Exception& error) {
    qCWarning(lcWindows).noquote() << "Command failed:" << error.message();
    showError(error.message());
}

// A failure of the control itself (its commands name the class, or it is not
// connected), which the settings engine passes on without showing it.
bool IsControlFailure(const Exception& error) {
    return error.message().startsWith(QStringLiteral("TKIDuxlaneControl.")) ||
           error.message() == QStringLiteral("Control has not been connected.");
}

// Follows one control through a command: null once the control is freed
// (the connection went while a question was open).
class ControlWatch : public TComponent {
public:
    explicit ControlWatch(TKIDuxlaneControl* control) : m_control(control) {
        FreeNotification(m_control);
    }
    ~ControlWatch() override {
        if (m_control != nullptr) {
            RemoveFreeNotification(m_control);
        }
    }
    TKIDuxlaneControl* Control() const { return m_control; }
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == opRemove && component == static_cast<TComponent*>(m_control)) {
            m_control = nullptr;
        }
    }

private:
    TKIDuxlaneControl* m_control;
};

// The hourglass over the Explorer for the life of a scope.
class BusyScope {
public:
    explicit BusyScope(TControlCommandHost& host) : m_host(host) { m_host.SetBusyCursor(true); }
    ~BusyScope() {
        if (m_busy) {
            m_host.SetBusyCursor(false);
        }
    }
    // The hourglass stays after the scope; someone else takes it back.
    void Keep() { m_busy = false; }

private:
    TControlCommandHost& m_host;
    bool m_busy = true;
};

// The control tabs disabled for the life of a scope.
class TabsScope {
public:
    explicit TabsScope(TControlCommandHost& host) : m_host(host) { m_host.SetTabsEnabled(false); }
    ~TabsScope() { m_host.SetTabsEnabled(true); }

private:
    TControlCommandHost& m_host;
};

} // namespace

TControlCommands::TControlCommands(TControlCommandHost& host) : m_host(host) {}

TControlCommands::~TControlCommands() = default;

QString TControlCommands::QuestionCaption(const QString& controlName) {
    return captionOf(mtConfirmation) + QStringLiteral(" - ") + controlName;
}

void TControlCommands::SetStatus(const QString& text) {
    TStatusBar* bar = m_host.CommandStatusBar();
    if (bar != nullptr && bar->PanelCount() > 0) {
        bar->SetPanelText(0, text);
    }
}

void TControlCommands::StartReset(TKIDuxlaneControl* control) {
    m_resetPending = true;
    try {
        control->ResetWithNotify(TKIDuxlaneControlEvent(this, &TControlCommands::ResetDone));
    } catch (...) {
        m_resetPending = false;
        throw;
    }
}

void TControlCommands::Reset(TKIDuxlaneControl* control) {
    if (control == nullptr) {
        return;
    }
    ControlWatch watch(control);
    const QString name = control->Identifier();
    try {
        if (!control->InConfigureMode()) {
            showError(NotLockedText(name));
            return;
        }
        const TModalResult answer = messageDlg(QuestionCaption(name), SaveBeforeResetText(name),
                                               mtConfirmation, mbYesNoCancel);
        if (answer == mrCancel || watch.Control() == nullptr) {
            return;
        }
        SetStatus(kResetting);
        BusyScope busy(m_host);
        TWindowsDisabled disabled;
        try {
            if (answer == mrYes) {
                control->SaveValues();
            }
            StartReset(control);
        } catch (const Exception&) {
            SetStatus(QString());
            throw;
        }
        // ResetDone enables the windows and takes the hourglass back (it may
        // even have run already).
        disabled.Keep();
        if (m_resetPending) {
            busy.Keep();
        }
    } catch (const Exception& error) {
        ShowCommandError(error);
    }
}

void TControlCommands::ResetDone(TKIDuxlaneControl* control) {
    m_resetPending = false;
    if (TMainWindowServices* services = MainWindowServices()) {
        services->EnableWindows(true);
    }
    m_host.SetBusyCursor(false);
    SetStatus(QString());
    if (control == nullptr) {
        return;
    }
    const QString name = control->Identifier();
    if (control->CommandState() != kCommandStateReady) {
        messageDlg(NotRespondingText(name), mtError, mbOK);
        m_host.TerminateApplication();
        return;
    }
    messageDlg(IsResetText(name), mtInformation, mbOK);
}

void TControlCommands::LockIO(TKIDuxlaneControl* control) {
    if (control == nullptr) {
        return;
    }
    ControlWatch watch(control);
    const QString name = control->Identifier();
    if (messageDlg(QuestionCaption(name), LockQuestionText(name), mtConfirmation, mbYesNo) !=
            mrYes ||
        watch.Control() == nullptr) {
        return;
    }
    try {
        {
            BusyScope busy(m_host);
            TWindowsDisabled disabled;
            control->Shutdown();
        }
        messageDlg(LockedText(name), mtInformation, mbOK);
    } catch (const Exception& error) {
        ShowCommandError(error);
    }
}

void TControlCommands::SaveValues(TKIDuxlaneControl* control) {
    if (control == nullptr) {
        return;
    }
    ControlWatch watch(control);
    const QString name = control->Identifier();
    if (messageDlg(QuestionCaption(name), SaveValuesQuestionText(name), mtConfirmation, mbYesNo) !=
            mrYes ||
        watch.Control() == nullptr) {
        return;
    }
    try {
        control->SaveValues();
        messageDlg(kSaveValuesDone, mtInformation, mbOK);
    } catch (const Exception& error) {
        ShowCommandError(error);
    }
}

void TControlCommands::LoadApplication(TKIDuxlaneControl* control) {
    if (control == nullptr) {
        return;
    }
    ControlWatch watch(control);
    if (TMainWindowServices* services = MainWindowServices()) {
        if (!services->CloseAllInspectors(kCloseInspectorsQuestion)) {
            return;
        }
    }
    if (watch.Control() == nullptr) {
        return;
    }
    bool changed = false;
    QString stateText;
    try {
        TCtrlApplication application;
        BusyScope busy(m_host);
        TabsScope tabs(m_host);
        if (!application.ChooseFile() || watch.Control() == nullptr) {
            return;
        }
        changed = application.Run(control, m_host.CommandStatusBar());
        stateText = application.StateText();
    } catch (const Exception& error) {
        ShowCommandError(error);
        return;
    }
    if (!changed) {
        return;
    }
    if (!stateText.isEmpty()) {
        messageDlg(stateText, mtWarning, mbOK);
    }
    messageDlg(kApplicationChanged, mtInformation, mbOK);
    m_host.TerminateApplication();
}

void TControlCommands::LoadFromFile(TKIDuxlaneControl* control) {
    if (control == nullptr) {
        return;
    }
    ControlWatch watch(control);
    const QString name = control->Identifier();
    if (messageDlg(QuestionCaption(name), LoadQuestionText(name), mtConfirmation, mbYesNo) !=
            mrYes ||
        watch.Control() == nullptr) {
        return;
    }
    TCtrlConfiguration configuration;
    BusyScope busy(m_host);
    TabsScope tabs(m_host);
    TWindowsDisabled disabled;
    bool loaded = false;
    try {
        loaded = configuration.LoadFromFile(control, m_host.CommandStatusBar());
    } catch (const Exception& error) {
        SetStatus(QString());
        // The engine has shown its own file and item errors; a failure of
        // the control itself it passes on unshown, and it must not be lost.
        if (IsControlFailure(error)) {
            ShowCommandError(error);
        }
        return;
    }
    if (!loaded || watch.Control() == nullptr) {
        return;
    }
    try {
        if (messageDlg(QuestionCaption(name), ResetAfterLoadText(name), mtConfirmation, mbYesNo) !=
                mrYes ||
            watch.Control() == nullptr) {
            SetStatus(QString());
            return;
        }
        SetStatus(kResetting);
        StartReset(control);
        disabled.Keep();
    } catch (const Exception& error) {
        SetStatus(QString());
        // The control stays in I/O lock without its reset: say so.
        ShowCommandError(error);
    }
}

void TControlCommands::RunSettingsCommand(const std::function<void(TCtrlConfiguration&)>& command) {
    try {
        TCtrlConfiguration configuration;
        BusyScope busy(m_host);
        TabsScope tabs(m_host);
        TWindowsDisabled disabled;
        command(configuration);
    } catch (const Exception& error) {
        ShowCommandError(error);
    }
}

void TControlCommands::SaveToFile(TKIDuxlaneControl* control) {
    if (control != nullptr) {
        RunSettingsCommand([&](TCtrlConfiguration& configuration) {
            configuration.SaveToFile(control, m_host.CommandStatusBar());
        });
    }
}

void TControlCommands::CreateReport(TKIDuxlaneControl* control) {
    if (control != nullptr) {
        RunSettingsCommand([&](TCtrlConfiguration& configuration) {
            configuration.CreateReport(control, m_host.CommandStatusBar(), m_host.DecimalPlaces());
        });
    }
}

void TControlCommands::Properties(TKIDuxlaneControl* control) {
    if (control == nullptr) {
        return;
    }
    auto window = std::make_unique<TControlProperties>();
    try {
        window->Fill(control);
    } catch (const Exception& error) {
        ShowCommandError(error);
        return;
    }
    window->exec();
}

} // namespace orvane
