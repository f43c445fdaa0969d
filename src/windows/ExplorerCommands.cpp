// The Explorer's control commands: the handlers of the tab strip's pop-up
// items, which the main window's Control commands trigger too. Each acts on
// the control of the selected tab as it is when the command starts; the work
// and the dialogue with the engineer are TControlCommands'.

#include <QCoreApplication>
#include <QTabBar>

#include "windows/ControlCommands.h"
#include "windows/Explorer.h"
#include "windows/Main.h"
#include "windows/OrvaneMDIForm.h"

namespace orvane {

namespace {

// What the commands need of the Explorer; a child of the window, so that it
// lives exactly as long as the window.
class TExplorerCommandHost : public QObject, public TControlCommandHost {
public:
    explicit TExplorerCommandHost(TExplorerForm* form) : QObject(form), m_form(form) {
        setObjectName(QStringLiteral("ExplorerCommandHost"));
    }
    TControlCommands& Commands() { return m_commands; }

    TStatusBar* CommandStatusBar() override { return m_form->StatusBar(); }
    void SetTabsEnabled(bool enabled) override {
        if (QTabBar* tabs = m_form->TabControl()) {
            tabs->setEnabled(enabled);
        }
    }
    void SetBusyCursor(bool busy) override {
        if (busy) {
            m_form->setCursor(Qt::WaitCursor);
        } else {
            m_form->unsetCursor();
        }
    }
    int DecimalPlaces() override {
        const TInspectorInitialization* settings = TInspectorInitialization::Instance();
        return settings != nullptr ? settings->DecimalPlaces()
                                   : TInspectorInitialization::kDefaultDecimalPlaces;
    }
    void TerminateApplication() override {
        if (auto* main = qobject_cast<TMainForm*>(m_form->parentWidget())) {
            main->EndProgram();
        } else {
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
    }

private:
    TExplorerForm* m_form;
    TControlCommands m_commands{*this};
};

TControlCommands& CommandsOf(TExplorerForm* form) {
    auto* host = dynamic_cast<TExplorerCommandHost*>(form->findChild<QObject*>(
        QStringLiteral("ExplorerCommandHost"), Qt::FindDirectChildrenOnly));
    if (host == nullptr) {
        host = new TExplorerCommandHost(form);
    }
    return host->Commands();
}

} // namespace

void TExplorerForm::InitCommands() {
    for (int command = 0; command < cmdCount; ++command) {
        SetCommandAvailable(static_cast<TCommand>(command), true);
    }
    CommandsOf(this);
}

void TExplorerForm::LoadApplicationClick() {
    CommandsOf(this).LoadApplication(SelectedControl());
}

void TExplorerForm::LoadFromFileClick() {
    CommandsOf(this).LoadFromFile(SelectedControl());
}

void TExplorerForm::SaveToFileClick() {
    CommandsOf(this).SaveToFile(SelectedControl());
}

void TExplorerForm::CreateReportClick() {
    CommandsOf(this).CreateReport(SelectedControl());
}

void TExplorerForm::ResetClick() {
    CommandsOf(this).Reset(SelectedControl());
}

void TExplorerForm::LockIOClick() {
    CommandsOf(this).LockIO(SelectedControl());
}

void TExplorerForm::SaveValuesClick() {
    CommandsOf(this).SaveValues(SelectedControl());
}

void TExplorerForm::PropertiesClick() {
    CommandsOf(this).Properties(SelectedControl());
}

} // namespace orvane
