#include "platform/StatusBar.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMainWindow>

using namespace orvane;

namespace {

// Stands for a model object bound to a panel: it forgets the status bar when
// told of its end, and reads the panel once more on the way (which must still
// be safe at that moment).
class PanelUser : public TComponent {
public:
    void Bind(TStatusBar* bar) {
        m_bar = bar;
        bar->FreeNotification(this);
    }
    void Notification(TComponent* component, TOperation operation) override {
        if (operation == opRemove && m_bar != nullptr && component == m_bar) {
            lastText = m_bar->PanelText(0);
            ++notices;
            m_bar = nullptr;
        }
        TComponent::Notification(component, operation);
    }
    TStatusBar* bar() const { return m_bar; }

    int notices = 0;
    QString lastText;

private:
    TStatusBar* m_bar = nullptr;
};

} // namespace

TEST(StatusBar, NumberedPanelsHoldTheirTexts) {
    TStatusBar bar;
    EXPECT_EQ(bar.PanelCount(), 0);
    EXPECT_THROW(bar.SetPanelText(0, QStringLiteral("x")), EListError);
    TStatusPanel* first = bar.AddPanel(200);
    bar.AddPanel();
    EXPECT_EQ(bar.PanelCount(), 2);
    EXPECT_EQ(first->Index(), 0);
    EXPECT_EQ(bar.Panel(1)->Index(), 1);
    EXPECT_EQ(first->Width(), 200);

    bar.SetPanelText(1, QStringLiteral("Active."));
    first->SetText(QStringLiteral("Resetting control ..."));
    EXPECT_EQ(bar.PanelText(0), QStringLiteral("Resetting control ..."));
    EXPECT_EQ(bar.Panel(1)->Text(), QStringLiteral("Active."));
    const auto labels = bar.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 2);
    EXPECT_EQ(labels[1]->text(), QStringLiteral("Active.")) << "the text is what the user sees";

    try {
        bar.Panel(2);
        FAIL() << "no error for panel 2";
    } catch (const EListError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("List index out of bounds (2)"));
    }
    EXPECT_THROW(bar.Panel(-1), EListError);
}

TEST(StatusBar, RegisteredObjectsHearOfItsDestructionWhilePanelsStillExist) {
    PanelUser user;
    PanelUser unbound;
    {
        QMainWindow window;
        auto* bar = new TStatusBar(&window);
        window.setStatusBar(bar);
        bar->AddPanel()->SetText(QStringLiteral("Not Active."));
        user.Bind(bar);
        unbound.Bind(bar);
        bar->RemoveFreeNotification(&unbound);
    } // the window frees the status bar
    EXPECT_EQ(user.notices, 1);
    EXPECT_EQ(user.lastText, QStringLiteral("Not Active."));
    EXPECT_EQ(user.bar(), nullptr);
    EXPECT_EQ(unbound.notices, 0);

    // An object freed before the status bar has left its list: destroying the
    // status bar afterwards does not reach it (ASan watches this).
    auto bar = std::make_unique<TStatusBar>();
    bar->AddPanel();
    auto early = std::make_unique<PanelUser>();
    early->Bind(bar.get());
    user.Bind(bar.get());
    early.reset();
    bar.reset();
    EXPECT_EQ(user.notices, 2);
}
