// A real drag in the Lights pane: the pane on a private X server, the mouse
// moved by xdotool, so the list's own drop code does the move.

#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <cstdlib>
#include <thread>

#include "app/app_settings.h"
#include "preferences/lights_pane.h"
#include "support/desktop_session.h"
#include "support/manual_executor.h"

namespace lumora::prefs {
namespace {

TEST(LightsDrag, DraggingTheThirdLightAboveTheFirstStoresTheNewOrder) {
    testing::DesktopSession session({});
    LUMORA_REQUIRE_DESKTOP(session);
    for (const auto& [k, v] : session.variables()) ::setenv(k.c_str(), v.c_str(), 1);
    int argc = 1;
    char name[] = "lumora_lights_drag_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    {
        ManualExecutor exec;
        auto store = std::make_shared<InMemoryDefaultsStore>();
        AppSettings settings(store, exec);
        std::vector<HueLight> lights;
        for (const char* id : {"1", "2", "7"}) {
            HueLight l;
            l.lamp_id = id;
            l.unique_id = std::string("u") + id;
            l.name = std::string("Light ") + id;
            lights.push_back(l);
        }
        settings.setLights(lights);

        LightsPane pane(settings);
        pane.move(0, 0);
        pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
        QListWidget* list = pane.selector()->list();
        // From the middle of the third row's name to just inside the first row's top edge.
        const QRect third = list->visualItemRect(list->item(2));
        const QRect first = list->visualItemRect(list->item(0));
        const QPoint from =
            list->viewport()->mapToGlobal(QPoint(third.left() + 60, third.center().y()));
        const QPoint to = list->viewport()->mapToGlobal(QPoint(first.left() + 60, first.top() + 2));

        bool moved = false;
        std::thread mouse([&] {
            auto at = [](QPoint p) {
                return std::vector<std::string>{std::to_string(p.x()), std::to_string(p.y())};
            };
            auto move = [&](QPoint p) {
                auto a = at(p);
                session.xdotool({"mousemove", a[0], a[1]});
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
            };
            move(from);
            session.xdotool({"mousedown", "1"});
            for (int step = 1; step <= 6; ++step) move(from + (to - from) * step / 6);
            move(to);
            session.xdotool({"mouseup", "1"});
            moved = true;
        });
        for (int i = 0; i < 300 && !(moved && store->contains("lightOrder")); ++i) QTest::qWait(20);
        mouse.join();
        QTest::qWait(50);

        EXPECT_EQ(store->string("lightOrder").value_or("(nothing stored)"), "7,1,2");
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text(), "Light 7");
        // The rows are still the pane's own, switches and all.
        EXPECT_NE(pane.selector()->toggle(0), nullptr);
        EXPECT_EQ(settings.lights().front().lamp_id, "7") << "the panel shows it first";

        // The second row dropped below the last.
        ASSERT_TRUE(list->model()->moveRow(QModelIndex(), 1, QModelIndex(), 3));
        EXPECT_EQ(store->string("lightOrder"), "7,2,1");
    }
}

}  // namespace
}  // namespace lumora::prefs
