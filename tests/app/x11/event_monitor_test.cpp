// The XInput2 mouse monitor against a private Xvfb, driven with xdotool. The
// test thread stands in for the user-interface thread: the monitor posts to
// a queue that only the test thread drains.

#include "app/x11/event_monitor.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/eventually.h"
#include "support/manual_executor.h"
#include "support/xvfb.h"

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
using Mask = EventMonitor::Mask;

struct Seen {
    Mask kind;
    int x, y;
    std::thread::id thread;
};

class EventMonitorTest : public XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        conn = xcb_connect(server->display.c_str(), nullptr);
        ASSERT_FALSE(xcb_connection_has_error(conn));
        root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    }
    void TearDown() override {
        if (!conn) return;
        for (auto w : created) xcb_destroy_window(conn, w);
        sync();
        xcb_disconnect(conn);
    }

    EventMonitor::Options options() {
        return {server->display, [this](std::function<void()> work) { ui.postUI(std::move(work)); },
                [this] {
                    ownListThread = std::this_thread::get_id();
                    return ours;
                }};
    }
    std::unique_ptr<EventMonitor> monitor(Mask mask = Mask::leftMouseDown | Mask::rightMouseDown,
                                          std::vector<Seen>* into = nullptr) {
        auto* target = into ? into : &seen;
        return std::make_unique<EventMonitor>(
            mask,
            [target](const EventMonitor::Event& e) {
                target->push_back({e.kind, e.x, e.y, std::this_thread::get_id()});
            },
            options());
    }

    void sync() { std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr)); }
    // A plain mapped window; there is no window manager, so it is on screen
    // where asked once the server has answered a round trip.
    xcb_window_t window(xcb_window_t parent, int x, int y, int w, int h) {
        const xcb_window_t id = xcb_generate_id(conn);
        xcb_create_window(conn, XCB_COPY_FROM_PARENT, id, parent, static_cast<int16_t>(x),
                          static_cast<int16_t>(y), static_cast<uint16_t>(w),
                          static_cast<uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(conn, id);
        sync();
        if (parent == root) created.push_back(id);
        return id;
    }

    void click(int x, int y, int button) {
        ASSERT_TRUE(xdotool(
            {"mousemove", std::to_string(x), std::to_string(y), "click", std::to_string(button)}));
    }
    bool waitSeen(size_t count) {
        return ui.runUntil([&] { return seen.size() >= count; });
    }

    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    std::vector<xcb_window_t> created;
    ManualExecutor ui{ManualExecutor::Background::Threads};
    std::vector<std::uint32_t> ours;
    std::vector<Seen> seen;
    std::thread::id ownListThread;
};

TEST_F(EventMonitorTest, PressesOnTheRootReachTheHandlerOnTheUiThread) {
    auto m = monitor();
    ASSERT_TRUE(m->start());
    EXPECT_TRUE(m->isRunning());

    click(100, 120, 1);
    ASSERT_TRUE(waitSeen(1));
    click(640, 500, 3);
    ASSERT_TRUE(waitSeen(2));

    EXPECT_EQ(seen[0].kind, Mask::leftMouseDown);
    EXPECT_EQ(seen[0].x, 100);
    EXPECT_EQ(seen[0].y, 120);
    EXPECT_EQ(seen[1].kind, Mask::rightMouseDown);
    EXPECT_EQ(seen[1].x, 640);
    EXPECT_EQ(seen[1].y, 500);
    for (const auto& s : seen) EXPECT_EQ(s.thread, std::this_thread::get_id());
    EXPECT_EQ(ownListThread, std::this_thread::get_id());

    // Raw presses arrive while another client grabs the pointer (an open menu).
    auto grab = xcb_grab_pointer_reply(
        conn,
        xcb_grab_pointer(conn, 0, root, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr);
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->status, XCB_GRAB_STATUS_SUCCESS);
    std::free(grab);
    click(400, 400, 1);
    EXPECT_TRUE(waitSeen(3));
    xcb_ungrab_pointer(conn, XCB_CURRENT_TIME);
    sync();
}

TEST_F(EventMonitorTest, OnlyTheKindsInTheMaskAreReported) {
    auto m = monitor(Mask::rightMouseDown);
    ASSERT_TRUE(m->start());
    click(10, 10, 1);
    click(20, 20, 2);
    click(30, 30, 3);
    ASSERT_TRUE(waitSeen(1));
    ui.runPending();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, Mask::rightMouseDown);
    EXPECT_EQ(seen[0].x, 30);

    // Left releases only when asked for; none of the other buttons'.
    m->stop();
    seen.clear();
    auto releases = monitor(Mask::leftMouseUp);
    ASSERT_TRUE(releases->start());
    click(30, 30, 3);
    click(10, 10, 1);
    ASSERT_TRUE(waitSeen(1));
    ui.runPending();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, Mask::leftMouseUp);
}

TEST_F(EventMonitorTest, PressesOverOwnWindowsOrWindowsHoldingThemAreDroppedAndOthersPass) {
    const auto own = window(root, 300, 300, 100, 100);
    // A frame two levels above our window, as a window manager's frame with
    // a decoration window inside.
    const auto frame = window(root, 600, 200, 300, 300);
    const auto inner = window(frame, 20, 20, 200, 200);
    const auto framed = window(inner, 10, 10, 50, 50);
    window(root, 100, 600, 100, 100);  // another application's
    ours = {own, framed};
    auto m = monitor();
    ASSERT_TRUE(m->start());

    click(350, 350, 1);
    click(360, 360, 3);
    click(610, 210, 1);  // the frame's border
    click(750, 350, 1);  // the decoration window
    click(635, 235, 3);  // the framed window itself
    click(150, 650, 1);  // over the foreign window
    click(50, 900, 3);   // over the bare root
    ASSERT_TRUE(waitSeen(2));
    ui.runPending();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].x, 150);
    EXPECT_EQ(seen[0].kind, Mask::leftMouseDown);
    EXPECT_EQ(seen[1].x, 50);
    EXPECT_EQ(seen[1].kind, Mask::rightMouseDown);

    // Asked at each press: a window no longer the program's lets it pass.
    ours.clear();
    click(350, 350, 1);
    ASSERT_TRUE(waitSeen(3));
    EXPECT_EQ(seen.back().x, 350);
}

TEST_F(EventMonitorTest, StopIsHarmlessTwiceOrUnstartedAndEndsDelivery) {
    std::vector<Seen> probeSeen;
    auto probe = monitor(Mask::leftMouseDown, &probeSeen);
    ASSERT_TRUE(probe->start());

    auto m = monitor();
    m->stop();  // never started
    m->stop();
    ASSERT_TRUE(m->start());
    EXPECT_FALSE(m->start());  // already running
    m->stop();
    m->stop();
    EXPECT_FALSE(m->isRunning());

    // The probe's press is the marker that the server has delivered the
    // click to everyone who listens.
    click(100, 100, 1);
    ASSERT_TRUE(ui.runUntil([&] { return !probeSeen.empty(); }));
    ui.runPending();
    EXPECT_TRUE(seen.empty());

    // A stopped monitor starts again on a fresh connection.
    ASSERT_TRUE(m->start());
    click(120, 100, 1);
    ASSERT_TRUE(waitSeen(1));
    EXPECT_EQ(seen[0].x, 120);
}

TEST_F(EventMonitorTest, APressPostedBeforeStopOrDestructionIsDropped) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "stopped");
        auto m = monitor();
        ASSERT_TRUE(m->start());
        click(100, 100, 1);
        ASSERT_TRUE(eventually([&] { return ui.pendingUI() >= 1; }, 1000, 10ms));
        const auto before = std::chrono::steady_clock::now();
        if (destroy)
            m.reset();  // joins the watcher
        else
            m->stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        ui.runPending();  // the posted press outlives the monitor's delivery
        EXPECT_TRUE(seen.empty());
    }
}

TEST_F(EventMonitorTest, AvailabilityAndRefusedStarts) {
    EXPECT_TRUE(EventMonitor::isAvailable(server->display));
    EXPECT_FALSE(EventMonitor::isAvailable(":4095"));

    EventMonitor nowhere(Mask::leftMouseDown, [](const EventMonitor::Event&) {},
                         {":4095", [](std::function<void()> w) { w(); }, {}});
    EXPECT_FALSE(nowhere.start());
    EXPECT_FALSE(nowhere.isRunning());

    // Without a poster the handler would have nowhere to run but the watcher.
    EventMonitor unposted(Mask::leftMouseDown, [](const EventMonitor::Event&) {},
                          {server->display, {}, {}});
    EXPECT_FALSE(unposted.start());
}

}  // namespace
}  // namespace lumora::testing
