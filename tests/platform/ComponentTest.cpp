#include "platform/Component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvane;

namespace {

using Log = std::vector<std::string>;

// Writes what happens to it into a shared log.
class Recorder : public TComponent {
public:
    Recorder(const char* name, Log* log, TComponent* owner = nullptr)
        : TComponent(owner), m_log(log) {
        SetName(QString::fromLatin1(name));
    }
    ~Recorder() override {
        m_log->push_back("~" + Name().toStdString() +
                         (ComponentState().testFlag(csDestroying) ? " destroying" : ""));
    }
    void Loaded() override {
        TComponent::Loaded();
        m_log->push_back(Name().toStdString() + " loaded");
    }
    void Notification(TComponent* component, TOperation operation) override {
        m_log->push_back(Name().toStdString() + (operation == opInsert ? " +" : " -") +
                         component->Name().toStdString());
        TComponent::Notification(component, operation);
    }

private:
    Log* m_log;
};

} // namespace

TEST(Component, OwnerFreesOwnedComponentsLastFirst) {
    Log log;
    auto* owner = new Recorder("owner", &log);
    auto* a = new Recorder("a", &log, owner);
    new Recorder("b", &log, owner);
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(0), a);
    EXPECT_EQ(a->Owner(), owner);
    EXPECT_EQ(owner->FindComponent(QStringLiteral("B")), owner->Components(1));
    try {
        owner->Components(2);
        FAIL() << "no error for index 2";
    } catch (const EListError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("List index out of bounds (2)"));
    }
    log.clear();
    owner->Free();
    EXPECT_EQ(log, (Log{"~owner destroying", "~b destroying", "~a destroying"}));
}

TEST(Component, FreedComponentLeavesItsOwnerAndSiblingsHearOfIt) {
    Log log;
    Recorder owner("owner", &log);
    auto* a = new Recorder("a", &log, &owner);
    Recorder* b = nullptr;
    b = new Recorder("b", &log, &owner);
    // The owner and the components already there hear of each insertion; the
    // new one is still being constructed (and has no name yet).
    EXPECT_EQ(log, (Log{"owner +", "owner +", "a +"}));
    log.clear();
    delete a;
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(log, (Log{"~a", "owner -a", "b -a"}));

    // Moving a component to another owner.
    Recorder other("other", &log);
    other.InsertComponent(b);
    EXPECT_EQ(b->Owner(), &other);
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(other.ComponentCount(), 1);
}

TEST(Component, FreeNotificationTellsPartnersBothWaysUntilRemoved) {
    Log log;
    auto* server = new Recorder("server", &log);
    Recorder form("form", &log);
    auto* device = new Recorder("device", &log, &form);
    auto* panel = new Recorder("panel", &log);

    server->FreeNotification(device);
    server->FreeNotification(device); // registered once
    panel->FreeNotification(device);
    panel->RemoveFreeNotification(device);
    log.clear();

    delete server;
    EXPECT_EQ(log, (Log{"~server", "device -server"}));

    // The registration went both ways: the partner is told of the device too.
    auto* watcher = new Recorder("watcher", &log);
    device->FreeNotification(watcher);
    log.clear();
    delete device;
    EXPECT_EQ(log, (Log{"~device", "watcher -device", "form -device"}));

    // Nobody is told of a removed registration, and nobody points at the
    // freed partner afterwards (ASan would see it here).
    log.clear();
    delete panel;
    EXPECT_EQ(log, (Log{"~panel"}));
    auto* late = new Recorder("late", &log);
    watcher->FreeNotification(late);
    delete late;
    log.clear();
    delete watcher;
    EXPECT_EQ(log, (Log{"~watcher"}));
}

TEST(Component, LoadingStateEndsWithLoadedOwnerFirst) {
    Log log;
    Recorder owner("owner", &log);
    auto* a = new Recorder("a", &log, &owner);
    new Recorder("b", &log, a);
    owner.BeginLoading();
    EXPECT_TRUE(a->ComponentState().testFlag(csLoading));
    log.clear();
    owner.EndLoading();
    EXPECT_EQ(log, (Log{"owner loaded", "a loaded", "b loaded"}));
    EXPECT_FALSE(a->Components(0)->ComponentState().testFlag(csLoading));

    owner.SetDesigning(true);
    auto* late = new Recorder("late", &log, a);
    EXPECT_TRUE(late->ComponentState().testFlag(csDesigning));
    owner.SetDesigning(false);
    EXPECT_FALSE(late->ComponentState().testFlag(csDesigning));
}
