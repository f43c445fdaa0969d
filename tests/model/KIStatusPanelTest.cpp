// The binding of a model object to one panel of a status bar, and what happens
// when the status bar goes before the object.

#include "model/KIStatusPanel.h"

#include <memory>

#include <gtest/gtest.h>

#include "platform/StatusBar.h"

namespace orvane {
namespace {

// A component that holds a panel binding and passes its notices on, as the
// server object does.
class Holder : public TComponent {
public:
    Holder() : panel(this) {}
    void Notification(TComponent* component, TOperation operation) override {
        panel.Notification(component, operation);
        TComponent::Notification(component, operation);
    }
    TKIStatusPanel panel;
};

TEST(KIStatusPanel, WithoutStatusBarTextsAreDropped) {
    TKIStatusPanel panel;
    panel.SetPanelIndex(3);
    EXPECT_EQ(panel.PanelIndex(), 0);
    panel.SetText(QStringLiteral("Active."));
    EXPECT_TRUE(panel.Text().isEmpty());
}

TEST(KIStatusPanel, ShowsTextInTheChosenPanel) {
    TStatusBar bar;
    bar.AddPanel();
    bar.AddPanel();
    TKIStatusPanel panel;
    panel.SetStatusBar(&bar);
    panel.SetPanelIndex(1);
    panel.SetText(QStringLiteral("Active."));
    EXPECT_EQ(bar.PanelText(1), QStringLiteral("Active."));
    EXPECT_TRUE(bar.PanelText(0).isEmpty());
    EXPECT_EQ(panel.Text(), QStringLiteral("Active."));
    EXPECT_THROW(panel.SetPanelIndex(2), EListError);
    panel.SetStatusBar(nullptr);
}

TEST(KIStatusPanel, StatusBarWithoutPanelsTakesNoText) {
    TStatusBar bar;
    TKIStatusPanel panel;
    panel.SetStatusBar(&bar);
    panel.SetPanelIndex(4);
    panel.SetText(QStringLiteral("Not Active."));
    EXPECT_TRUE(panel.Text().isEmpty());
    // Once there are panels, an index outside them is the bar's index error.
    bar.AddPanel();
    EXPECT_THROW(panel.SetPanelIndex(4), EListError);
    panel.SetPanelIndex(0);
    panel.SetText(QStringLiteral("Not Active."));
    EXPECT_EQ(bar.PanelText(0), QStringLiteral("Not Active."));
    panel.SetStatusBar(nullptr);
}

TEST(KIStatusPanel, ForgetsAStatusBarThatIsDestroyed) {
    Holder holder;
    auto bar = std::make_unique<TStatusBar>();
    bar->AddPanel();
    holder.panel.SetStatusBar(bar.get());
    holder.panel.SetText(QStringLiteral("Starting server ..."));
    EXPECT_EQ(bar->PanelText(0), QStringLiteral("Starting server ..."));
    bar.reset();
    EXPECT_EQ(holder.panel.StatusBar(), nullptr);
    holder.panel.SetText(QStringLiteral("Not Active."));
    EXPECT_TRUE(holder.panel.Text().isEmpty());
}

} // namespace
} // namespace orvane
