// Start-up, the status item's clicks, the review request and the menu's
// window commands.

#include "app/app_delegate.h"
#include "base/notification_center.h"
#include "base/setting_keys.h"
#include "bridge/discovery.h"

namespace lumora {

void AppDelegate::setSiteURLs(std::string help, std::string feedback) {
    helpURL_ = std::move(help);
    feedbackURL_ = std::move(feedback);
}

void AppDelegate::applicationDidFinishLaunching() {
    // Sleep and wake reach onSleepNote/onWakeNote from the shell's watcher;
    // here only the panel's requests for a new height.
    if (!resizeObserver_) {
        // A note may be posted from any thread: the delegate is touched on
        // the UI thread only.
        resizeObserver_ = services_.center->addObserver(
            kWindowResizePlease, [self = uiHandle()](const Notification& note) {
                const auto it = note.userInfo.find("height");
                if (it == note.userInfo.end()) return;
                const auto* height = std::get_if<std::int64_t>(&it->second);
                if (!height) return;
                const double h = static_cast<double>(*height);
                self.post([h](AppDelegate& d) {
                    if (d.shell_) d.shell_->repositionWindow(h);
                });
            });
    }
    registerKeyboardHotkeys();
    settings_->loadFromStore();
    if (shell_) shell_->buildInterface();

    // The workers hold the detector and a way back, never the delegate.
    if (!settings_->hueIP().empty()) {
        dispatcher_.postBG(
            [self = uiHandle()] { self.post([](AppDelegate& d) { d.connectToBridge(); }); });
    } else {
        Detector detect = detector_
                              ? detector_
                              : [factory = services_.browserFactory, console = services_.console] {
                                    DetectBridgeOptions options;
                                    options.browserFactory = factory;
                                    options.console = console;
                                    return detectBridge(options);
                                };
        dispatcher_.postBG([self = uiHandle(), detect] {
            const std::string found = detect();
            // Nothing found: the user connects from the settings.
            if (found.empty()) return;
            self.post([found](AppDelegate& d) {
                d.settings_->setHueIP(trimmed(found));
                d.connectToBridge();
            });
        });
    }

    const auto seen = settings_->defaults().object(keys::hasSeenWelcomeScreen);
    const bool seenIt = seen && std::holds_alternative<bool>(*seen) && std::get<bool>(*seen);
    if (!seenIt && shell_) shell_->showWelcomeWindow();
}

void AppDelegate::togglePopover(Click click) {
    if (!shell_) return;
    if (click == Click::right) {
        if (shell_->isPanelShown()) shell_->closePanel();
        shell_->popUpContextMenu();
        return;
    }
    if (shell_->isPanelShown()) {
        shell_->closePanel();
        return;
    }
    settings_->reloadPreferredHeights();
    shell_->showPanel(settings_->getCurrentPreferredWindowHeight());
    // Queued, so it runs once the panel is on screen.
    onUI([this] { reviewCheck(); });
}

void AppDelegate::reviewCheck() {
    DefaultsStore& store = settings_->defaults();
    const std::int64_t n = store.integer(keys::appInvocations);
    store.setInteger(keys::appInvocations, n + 1);
    if (store.boolean(keys::noMoreReviewRequests)) return;
    if (settings_->showReviewRequest()) {
        if (n >= 41) settings_->setShowReviewRequest(false);
    }
    if (!settings_->showReviewRequest()) {
        if (n >= 26 && n <= 39) settings_->setShowReviewRequest(true);
    }
}

void AppDelegate::openSettings() {
    if (!shell_) return;
    shell_->showSettings();
    if (shell_->isPanelShown()) shell_->closePanel();
}

void AppDelegate::openHelp() {
    if (shell_ && !helpURL_.empty()) shell_->openURL(helpURL_);
}

void AppDelegate::openFeedback() {
    if (shell_ && !feedbackURL_.empty()) shell_->openURL(feedbackURL_);
}

}  // namespace lumora
