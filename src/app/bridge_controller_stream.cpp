// The controller's side of the bridge's event stream: when it runs, and what
// its events and its health do to the settings and the refresh.
#include "app/bridge_controller.h"

namespace lumora {

// ---- The event stream ---------------------------------------------------------

void BridgeController::onStreamEvent(const StreamEventMeaning& meaning) {
    ReadsWanted wanted = readsOf(meaning);
    if (inQuietTime()) {
        // As a read would be, an event is held back while the user's own
        // change may still be on its way: an echo of an older state must
        // not move the slider back. What it said is read once the quiet
        // time is over.
        for (const StreamChange& c : meaning.changes)
            (c.resource == StreamResource::light ? wanted.lights : wanted.groups) = true;
        wanted_ |= wanted;
        return;
    }
    wanted |= applyStreamChanges(*settings_, meaning.changes);
    wanted_ |= wanted;
    if (!wanted_.any() || wantedPosted_) return;
    // At the next turn, so a burst of events costs one read of each kind.
    wantedPosted_ = true;
    onUI([this] {
        wantedPosted_ = false;
        readWanted();
    });
}

void BridgeController::onStreamHealth(bool live) {
    if (live == streamLive_) return;
    streamLive_ = live;
    if (stream_) settings_->setLiveStatus(live ? LiveStatus::active : LiveStatus::connecting);
    settings_->logger(live ? "Live updates: the bridge's event stream is connected."
                           : "Live updates: the event stream is lost; reading every few seconds.");
    // The full read's clock starts with the stream: the reads before it were full.
    if (live) lastFullRead_ = dispatcher_.now();
}

void BridgeController::startStreamIfWanted() {
    AppSettings& s = *settings_;
    if (!s.liveUpdates()) {
        s.setLiveStatus(LiveStatus::off);
        return;
    }
    const BridgeEndpoint bridge = endpoint();
    const bool capable = link_.secure && !link_.hostPort.empty() && link_.hostPort == s.hueIP() &&
                         modelHasEventStream(linkModel_) && !bridge.user.empty();
    if (!capable) {
        stopStream();
        s.setLiveStatus(LiveStatus::unavailable);
        return;
    }
    if (stream_) return;
    const int generation = ++streamGeneration_;
    EventStreamClient::Callbacks callbacks;
    // The stream's thread is joined before this controller goes (stopStream,
    // the destructor), and the dispatcher outlives the controller.
    const UiHandle self = uiHandle();
    callbacks.onEvent = [self, generation](const StreamEventMeaning& meaning) {
        self.post([meaning, generation](BridgeController& c) {
            if (c.streamGeneration_ == generation && c.stream_) c.onStreamEvent(meaning);
        });
    };
    callbacks.onHealth = [self, generation](bool live) {
        self.post([live, generation](BridgeController& c) {
            if (c.streamGeneration_ == generation && c.stream_) c.onStreamHealth(live);
        });
    };
    callbacks.log = [self, generation, user = bridge.user](const std::string& line) {
        self.post([line = withUserNameMasked(line, user), generation](BridgeController& c) {
            // Each retry fails the same way: the log keeps a change.
            if (c.streamGeneration_ != generation || line == c.streamLogLine_) return;
            c.streamLogLine_ = line;
            c.settings_->keepInLog(line);
        });
    };
    EventStreamClient::Timing timing;
    timing.idleTimeout = kStreamSilence;
    stream_ = std::make_unique<EventStreamClient>(eventStreamTarget(bridge), std::move(callbacks),
                                                  std::move(timing));
    s.setLiveStatus(LiveStatus::connecting);
}

void BridgeController::stopStream() {
    ++streamGeneration_;
    stream_.reset();
    streamLive_ = false;
    streamLogLine_.clear();
    settings_->setLiveStatus(settings_->liveUpdates() ? LiveStatus::unavailable : LiveStatus::off);
}

}  // namespace lumora
