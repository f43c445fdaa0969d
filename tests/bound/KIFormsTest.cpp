// Containers: handler sets, state masking down a chain, registration that
// ends with the receiver, and the error box for a parent that is no container.

#include "bound/KIForms.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QTabWidget>
#include <QVBoxLayout>

#include "ScriptedDialogService.h"
#include "platform/DialogService.h"

using namespace orvane;
using orvane::test::ScriptedDialogService;

namespace {

// Records the states it is sent.
struct Recorder {
    void State(std::uint8_t state) { states.push_back(state); }
    TContainerStateHandler handler() { return TContainerStateHandler(this, &Recorder::State); }
    std::uint8_t last() const { return states.empty() ? 0xFF : states.back(); }
    std::vector<std::uint8_t> states;
};

// Frees another recorder's registration while it is being called.
struct Remover {
    void State(std::uint8_t) {
        ++calls;
        victim->Reset();
    }
    TContainerRegistration* victim = nullptr;
    int calls = 0;
};

TEST(NotifyEventSet, HoldsEachHandlerOnceAndFiresInOrder) {
    TNotifyEventSet set;
    Recorder a;
    Recorder b;
    set.Add(a.handler());
    set.Add(b.handler());
    set.Add(a.handler());
    EXPECT_EQ(set.Count(), 2);
    set.Fire(3);
    EXPECT_EQ(a.states, std::vector<std::uint8_t>{3});
    EXPECT_EQ(b.states, std::vector<std::uint8_t>{3});
    set.Remove(a.handler());
    set.Fire(1);
    EXPECT_EQ(a.states.size(), 1u);
    EXPECT_EQ(b.last(), 1);
}

TEST(NotifyEventSet, HandlerRemovedDuringFireIsNotCalled) {
    TKIForm form;
    Remover remover;
    Recorder later;
    TContainerRegistration first =
        form.RegisterStateHandler(TContainerStateHandler(&remover, &Remover::State));
    TContainerRegistration second = form.RegisterStateHandler(later.handler());
    remover.victim = &second;
    form.FireState();
    EXPECT_EQ(remover.calls, 1);
    EXPECT_TRUE(later.states.empty());
    EXPECT_EQ(form.HandlerCount(), 1);
}

TEST(Containers, RegistrationEndsWithTheReceiverAndOutlivesTheContainer) {
    auto form = std::make_unique<TKIForm>();
    {
        Recorder gone;
        TContainerRegistration registration = RegisterWithContainer(form.get(), gone.handler());
        EXPECT_TRUE(registration.IsRegistered());
        EXPECT_EQ(form->HandlerCount(), 1);
    }
    // The receiver is gone: the form no longer calls it (ASan would see it).
    EXPECT_EQ(form->HandlerCount(), 0);
    form->show();

    Recorder stays;
    TContainerRegistration registration = RegisterWithContainer(form.get(), stays.handler());
    form.reset();
    EXPECT_FALSE(registration.IsRegistered());
    registration.Reset(); // the container is gone: nothing to touch
}

TEST(Containers, ChainMasksTheFormStateWithEachLevelsFlags) {
    TKIForm form;
    auto* panel = new TKIPanel(&form);
    auto* group = new TKIGroupBox(QStringLiteral("Loop"), panel);
    auto* layout = new QVBoxLayout(&form);
    layout->addWidget(panel);
    form.Loaded();
    EXPECT_TRUE(panel->IsRegisteredWithParent());
    EXPECT_TRUE(group->IsRegisteredWithParent());

    Recorder controls;
    TContainerRegistration registration = group->RegisterStateHandler(controls.handler());
    form.show();
    EXPECT_EQ(controls.last(), kStateActive);

    // A disabled group box inside a shown form passes "shown, not enabled".
    group->setEnabled(false);
    EXPECT_EQ(controls.last(), kStateShown);
    group->setEnabled(true);
    EXPECT_EQ(controls.last(), kStateActive);

    // A hidden panel passes 0 whatever the form sends.
    panel->setVisible(false);
    EXPECT_EQ(controls.last(), 0);
    form.setEnabled(false);
    form.setEnabled(true);
    EXPECT_EQ(controls.last(), 0);
    panel->setVisible(true);
    EXPECT_EQ(controls.last(), kStateActive);

    form.hide();
    EXPECT_EQ(controls.last(), 0);
}

TEST(Containers, ScrollBoxControlsRegisterWithTheScrollBox) {
    TKIForm form;
    auto* box = new TKIScrollBox(&form);
    auto* inner = new QWidget;
    auto* control = new QWidget(inner);
    box->setWidget(inner);
    EXPECT_EQ(ContainerOf(control), box);
    EXPECT_EQ(ContainerOf(box), &form);
}

TEST(Containers, DestroyedFormDoesNotFireOnItsFinalHide) {
    Recorder recorder;
    TContainerRegistration registration;
    {
        TKIForm form;
        registration = form.RegisterStateHandler(recorder.handler());
        form.show();
        recorder.states.clear();
    }
    EXPECT_TRUE(recorder.states.empty());
}

TEST(Containers, TabSheetStateFollowsThePageInFront) {
    QTabWidget tabs;
    auto* first = new TKITabSheet;
    auto* second = new TKITabSheet;
    tabs.addTab(first, QStringLiteral("One"));
    tabs.addTab(second, QStringLiteral("Two"));
    Recorder one;
    Recorder two;
    TContainerRegistration r1 = first->RegisterStateHandler(one.handler());
    TContainerRegistration r2 = second->RegisterStateHandler(two.handler());
    tabs.show();
    EXPECT_EQ(one.last(), kStateActive);
    // The page behind has not been shown: it sent nothing, or nothing active.
    EXPECT_TRUE(two.states.empty() || two.last() != kStateActive);

    tabs.setCurrentIndex(1);
    EXPECT_EQ(one.last(), 0);
    EXPECT_EQ(two.last(), kStateActive);
    second->setEnabled(false);
    EXPECT_EQ(two.last(), kStateShown);
}

TEST(Containers, ParentThatIsNoContainerShowsTheErrorOnce) {
    ScriptedDialogService dialogs;
    dialogs.answerMessage(mrOk, QStringLiteral("Frame1 is not an Formweave Library form"));
    QWidget plain;
    plain.setObjectName(QStringLiteral("Frame1"));
    auto* panel = new TKIPanel(&plain);
    panel->Loaded();
    EXPECT_FALSE(panel->IsRegisteredWithParent());
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].type, mtError);
    // It works on without notifications.
    Recorder recorder;
    TContainerRegistration registration = panel->RegisterStateHandler(recorder.handler());
    panel->ParentStateChanged(kStateActive);
    EXPECT_EQ(recorder.last(), kStateActive);
}

} // namespace
