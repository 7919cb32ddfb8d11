// The control interface on a private session bus: the actions reach the
// controller's queue, bad arguments come back as errors, the name stays with
// its first owner, and Changed() is sent once per interval.

#include "control/control_interface.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <chrono>

#include "app/bridge_controller.h"
#include "app/hotkey_actions.h"
#include "support/controller_fixture.h"
#include "support/desktop_session.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;

class ControlInterfaceTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        settings().setGroups({group("1"), group("2"), group("3")});
        hotkeys_ = std::make_unique<HotkeyActions>(*controller_, services_);
        control_ = std::make_unique<ControlInterface>(
            *controller_, *hotkeys_, ControlInterface::Panel{[this] { ++toggles_; }, {}, {}});
    }
    void TearDown() override {
        control_.reset();
        hotkeys_.reset();
        ControllerFixture::TearDown();
    }

    Services services_ = servicesWith(exec_, store_);  // the hot keys'
    std::unique_ptr<HotkeyActions> hotkeys_;
    int toggles_ = 0;
    std::unique_ptr<ControlInterface> control_;
};

TEST_F(ControlInterfaceTest, CallsReachTheQueueBadArgumentsAreRefusedAndTheNameStaysWithItsOwner) {
    testing::DesktopSession session({.sessionBus = true});
    LUMORA_REQUIRE_DESKTOP(session);
    const QString address = QString::fromStdString(session.sessionBusAddress());
    {
        QDBusConnection tray = QDBusConnection::connectToBus(address, QStringLiteral("tray"));
        QDBusConnection second = QDBusConnection::connectToBus(address, QStringLiteral("second"));
        QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        QString why;
        ASSERT_TRUE(control_->publish(tray, &why)) << why.toStdString();

        // Asynchronous, so this thread's loop can answer for the tray side.
        const auto call = [&](const QString& interface, const QString& method,
                              const QVariantList& args = {}) {
            QDBusMessage m =
                QDBusMessage::createMethodCall(kControlService, kControlPath, interface, method);
            m.setArguments(args);
            QDBusPendingCall pending = client.asyncCall(m, 2000);
            const auto end = std::chrono::steady_clock::now() + 5s;
            while (!pending.isFinished() && std::chrono::steady_clock::now() < end)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            exec_->runPending();  // the queue takes commands on the next turn
            return pending.reply();
        };
        const QString ours = kControlInterface;
        const auto& queue = settings().actionQueue();

        EXPECT_EQ(call(ours, "Brighter").type(), QDBusMessage::ReplyMessage);
        EXPECT_EQ(queue.size(), 3u) << "one command per room";
        const auto refused = call(ours, "Slot", {0});
        EXPECT_EQ(refused.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(refused.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
        EXPECT_TRUE(refused.errorMessage().contains("1 to 5"))
            << refused.errorMessage().toStdString();
        EXPECT_EQ(call(ours, "DelayedOff", {-5}).type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(queue.size(), 3u) << "nothing queued for refused calls";
        EXPECT_EQ(call(ours, "DelayedOff", {30}).type(), QDBusMessage::ReplyMessage);
        EXPECT_EQ(queue.size(), 4u);

        const auto connected = [&] {
            const auto r =
                call("org.freedesktop.DBus.Properties", "Get", {ours, QStringLiteral("Connected")});
            return r.arguments().value(0).value<QDBusVariant>().variant().toBool();
        };
        EXPECT_FALSE(connected());
        settings().setBridgeConnected(true);
        EXPECT_TRUE(connected());

        // A second tray program does not take the name over.
        HotkeyActions otherHotkeys(*controller_, services_);
        int otherToggles = 0;
        ControlInterface other(*controller_, otherHotkeys, {[&] { ++otherToggles; }, {}, {}});
        EXPECT_FALSE(other.publish(second, &why));
        EXPECT_TRUE(why.contains("another program owns")) << why.toStdString();
        EXPECT_EQ(call(ours, "TogglePanel").type(), QDBusMessage::ReplyMessage);
        EXPECT_EQ(toggles_, 1);
        EXPECT_EQ(otherToggles, 0);
    }
    for (const char* name : {"tray", "second", "client"})
        QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
}

TEST_F(ControlInterfaceTest, ChangedComesOncePerIntervalHoweverOftenTheRoomsChange) {
    int changed = 0;
    QObject::connect(control_.get(), &ControlInterface::Changed, [&] { ++changed; });
    auto& s = settings();
    for (int i = 0; i < 10; ++i) {
        s.mutateGroups([i](std::vector<HueGroup>& groups) { groups[0].brightness = i; });
        s.setLights({});
    }
    exec_->advance(std::chrono::milliseconds(ControlInterface::kChangedDelayMs - 1));
    EXPECT_EQ(changed, 0);
    exec_->advance(1ms);
    EXPECT_EQ(changed, 1);
    exec_->advance(2s);
    EXPECT_EQ(changed, 1) << "nothing changed since";
    s.setHueIP("127.0.0.1:10");
    exec_->advance(2s);
    EXPECT_EQ(changed, 1) << "not the lights or rooms";
    s.mutateGroups([](std::vector<HueGroup>& groups) { groups[1].brightness = 7; });
    exec_->advance(std::chrono::milliseconds(ControlInterface::kChangedDelayMs));
    EXPECT_EQ(changed, 2);
}

}  // namespace
}  // namespace lumora

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
