#include "windows/MainInspectors.h"

#include <QAction>

#include "model/OVServer.h"
#include "windows/DuxlaneTreeView.h"
#include "windows/Explorer.h"
#include "windows/InspectorForm.h"

namespace orvane {

TExplorerHeaderWalk::TExplorerHeaderWalk(TExplorerForm* explorer) : m_explorer(explorer) {}

TExplorerHeaderWalk::~TExplorerHeaderWalk() = default;

void TExplorerHeaderWalk::Start(bool configure) {
    if (configure) {
        m_iterator = std::make_unique<TConfigureHeaderIterator>();
    } else {
        m_iterator = std::make_unique<TServiceHeaderIterator>();
    }
    if (m_explorer) {
        m_explorer->StartHeaderIterator(m_iterator.get());
    }
}

bool TExplorerHeaderWalk::HasCurrent() const {
    return m_explorer && m_iterator && m_iterator->HasCurrent();
}

QString TExplorerHeaderWalk::HeaderName() const {
    return m_iterator ? m_iterator->HeaderName() : QString();
}

void TExplorerHeaderWalk::Next() {
    if (m_iterator) {
        m_iterator->Next();
    }
}

TMainInspectors::TMainInspectors(TMainForm* main) : QObject(main), m_main(main) {
    m_manager = std::make_unique<TInspectorManager>(
        main, main->Clipboard(), TOrvaneMDIForm::TActivatedEvent(main, &TMainForm::ChildActivated),
        [main](const QString& name) -> TKIDevice* {
            return main->Server() ? main->Server()->FindControl(name) : nullptr;
        });
    const auto on = [this, main](TMainAction command, auto slot) {
        connect(main->action(command), &QAction::triggered, this, [this, slot] {
            // The main window keeps the active inspector; the commands act on it.
            m_manager->SetActiveInspector(m_main->ActiveInspector());
            slot();
        });
    };
    on(TMainAction::NewInspector, [this] { newInspector(); });
    on(TMainAction::NewQuickInspector, [this] { NewQuickInspector(); });
    on(TMainAction::Open, [this] {
        m_manager->SetExplorer(m_main->Explorer());
        m_manager->OpenInspector();
    });
    on(TMainAction::Close, [this] { m_manager->CloseActive(); });
    on(TMainAction::Save, [this] { m_manager->SaveActive(); });
    on(TMainAction::SaveAs, [this] { m_manager->SaveActiveAs(); });
    on(TMainAction::AddSheet, [this] { m_manager->AddSheet(); });
    on(TMainAction::RemoveSheet, [this] { m_manager->RemoveSheet(); });
    on(TMainAction::RenameSheet, [this] { m_manager->RenameSheet(); });
    on(TMainAction::Precision, [this] { m_manager->Precision(); });
    main->SetInspectorManagement(this);
}

// Goes with the main window, which no longer asks anything of it then.
TMainInspectors::~TMainInspectors() = default;

TInspectorForm* TMainInspectors::newInspector() {
    m_manager->SetExplorer(m_main->Explorer());
    TInspectorForm* form = m_manager->NewInspector();
    m_main->UpdateInspectorCommands(form);
    return form;
}

TInspectorForm* TMainInspectors::NewQuickInspector() {
    m_manager->SetExplorer(m_main->Explorer());
    TExplorerHeaderWalk headers(m_main->Explorer());
    TInspectorForm* form = m_manager->NewQuickInspector(headers);
    m_main->UpdateInspectorCommands(form);
    return form;
}

std::vector<TOrvaneMDIForm*> TMainInspectors::Inspectors() const {
    std::vector<TOrvaneMDIForm*> forms;
    for (TInspectorForm* form : m_manager->Inspectors()) {
        forms.push_back(form);
    }
    return forms;
}

void TMainInspectors::OpenFirstInspector() {
    newInspector();
}

void TMainInspectors::SaveInspector(TOrvaneMDIForm* inspector) {
    if (auto* form = qobject_cast<TInspectorForm*>(inspector)) {
        form->Save();
    }
}

bool TMainInspectors::CloseInspector(TOrvaneMDIForm* inspector) {
    if (auto* form = qobject_cast<TInspectorForm*>(inspector)) {
        // The inspector asks about its changes and closes in either case.
        form->close();
    }
    return true;
}

} // namespace orvane
