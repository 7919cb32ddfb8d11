#pragma once
// Each test has a module of its own over an in-memory store and a fake
// hot-key service, and a record of the change notifications.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/defaults_store.h"
#include "base/notification_center.h"
#include "shortcuts/keyboard_shortcuts.h"
#include "support/fake_hotkey_service.h"

namespace lumora::testing {

class ShortcutModuleTest : public ::testing::Test {
  protected:
    using KS = KeyboardShortcuts;
    using Name = KeyboardShortcuts::Name;

    void SetUp() override {
        observer = center->addObserver(KS::shortcutByNameDidChange, [this](const Notification& n) {
            auto it = n.userInfo.find("name");
            posted.push_back(it == n.userInfo.end() ? "<none>" : std::get<std::string>(it->second));
        });
    }
    void TearDown() override { center->removeObserver(observer); }

    std::shared_ptr<InMemoryDefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    std::shared_ptr<FakeHotKeyService> service = std::make_shared<FakeHotKeyService>();
    CarbonKeyboardShortcuts layer{service};
    KeyboardShortcuts ks{store, center, layer};
    std::vector<std::string> posted;
    NotificationCenter::Token observer = 0;
};

}  // namespace lumora::testing
