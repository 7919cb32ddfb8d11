#include "simulator/advertise.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <iostream>
#include <mutex>

namespace lumora::sim {

std::string advertisedInstanceName(std::string_view bridgeId) {
    std::string tail(bridgeId.substr(bridgeId.size() > 6 ? bridgeId.size() - 6 : 0));
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return "Philips Hue - " + tail;
}

std::vector<std::string> advertisedTxtRecords(std::string_view bridgeId, std::string_view modelId) {
    std::string id(bridgeId);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return {"bridgeid=" + id, "modelid=" + std::string(modelId)};
}

struct Advertiser::Impl {
    std::function<void(std::string_view)> log;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    int port = 0;
    std::vector<std::string> txt;

    // Written on the polling thread, read by waitEstablished() and name().
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string name;
    bool established = false;

    void say(const std::string& line) const {
        if (log)
            log(line);
        else
            std::cerr << line << std::endl;
    }

    // Polling thread (or before it starts): (re)adds the service under the current name.
    void publish(AvahiClient* c) {
        if (!group) group = avahi_entry_group_new(c, &Impl::groupCallback, this);
        if (!group) {
            say("advertise: cannot create an entry group: " +
                std::string(avahi_strerror(avahi_client_errno(c))));
            return;
        }
        if (!avahi_entry_group_is_empty(group)) return;
        std::string current = currentName();
        AvahiStringList* list = nullptr;
        for (auto it = txt.rbegin(); it != txt.rend(); ++it)
            list = avahi_string_list_add(list, it->c_str());
        int error = avahi_entry_group_add_service_strlst(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), current.c_str(),
            kAdvertisedType, nullptr, nullptr, static_cast<std::uint16_t>(port), list);
        avahi_string_list_free(list);
        if (error == AVAHI_ERR_COLLISION) {
            rename();
            publish(c);
            return;
        }
        if (error < 0 || (error = avahi_entry_group_commit(group)) < 0)
            say("advertise: cannot publish: " + std::string(avahi_strerror(error)));
    }

    std::string currentName() const {
        std::lock_guard lock(mutex);
        return name;
    }

    void rename() {
        std::lock_guard lock(mutex);
        char* next = avahi_alternative_service_name(name.c_str());
        name = next;
        avahi_free(next);
    }

    void setEstablished(bool value) {
        {
            std::lock_guard lock(mutex);
            established = value;
        }
        changed.notify_all();
    }

    static void groupCallback(AvahiEntryGroup* g, AvahiEntryGroupState state, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                self->say("advertise: published \"" + self->currentName() + "\" (" +
                          kAdvertisedType + ", port " + std::to_string(self->port) + ")");
                self->setEstablished(true);
                break;
            case AVAHI_ENTRY_GROUP_COLLISION:
                // Another host holds the name: take the next one, as a real bridge would.
                self->rename();
                self->say("advertise: name taken, trying \"" + self->currentName() + "\"");
                avahi_entry_group_reset(g);
                self->publish(avahi_entry_group_get_client(g));
                break;
            case AVAHI_ENTRY_GROUP_FAILURE:
                self->say("advertise: failed: " + std::string(avahi_strerror(avahi_client_errno(
                                                      avahi_entry_group_get_client(g)))));
                self->setEstablished(false);
                break;
            default:
                break;
        }
    }

    static void clientCallback(AvahiClient* c, AvahiClientState state, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING:
                self->publish(c);
                break;
            case AVAHI_CLIENT_S_COLLISION:
            case AVAHI_CLIENT_S_REGISTERING:
                // The host name is being (re)registered; publish again once it is done.
                if (self->group) avahi_entry_group_reset(self->group);
                self->setEstablished(false);
                break;
            case AVAHI_CLIENT_CONNECTING:
                self->say("advertise: waiting for the Avahi daemon");
                break;
            case AVAHI_CLIENT_FAILURE:
                self->say("advertise: Avahi failed: " +
                          std::string(avahi_strerror(avahi_client_errno(c))));
                self->setEstablished(false);
                break;
        }
    }

    void shutdown() {
        if (!poll) return;
        avahi_threaded_poll_stop(poll);
        if (client) avahi_client_free(client);  // frees the entry group too
        avahi_threaded_poll_free(poll);
        poll = nullptr;
        client = nullptr;
        group = nullptr;
        setEstablished(false);
    }
};

Advertiser::Advertiser(std::function<void(std::string_view)> log)
    : impl_(std::make_unique<Impl>()) {
    impl_->log = std::move(log);
}

Advertiser::~Advertiser() {
    stop();
}

bool Advertiser::start(std::string_view bridgeId, std::string_view modelId, int port,
                       std::string* error) {
    stop();
    Impl& d = *impl_;
    d.port = port;
    d.txt = advertisedTxtRecords(bridgeId, modelId);
    {
        std::lock_guard lock(d.mutex);
        d.name = advertisedInstanceName(bridgeId);
    }
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        d.shutdown();
        return false;
    };
    d.poll = avahi_threaded_poll_new();
    if (!d.poll) return fail("cannot create Avahi's event loop");
    int code = 0;
    d.client = avahi_client_new(avahi_threaded_poll_get(d.poll), AVAHI_CLIENT_NO_FAIL,
                                &Impl::clientCallback, &d, &code);
    if (!d.client) return fail(std::string("Avahi unavailable: ") + avahi_strerror(code));
    if (avahi_threaded_poll_start(d.poll) < 0) return fail("cannot start Avahi's event loop");
    return true;
}

void Advertiser::stop() {
    impl_->shutdown();
}

bool Advertiser::waitEstablished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [this] { return impl_->established; });
}

std::string Advertiser::name() const {
    return impl_->currentName();
}

}  // namespace lumora::sim
