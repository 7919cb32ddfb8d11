#include "simulator/sim_server.h"

#include <malloc.h>

#include <algorithm>
#include <array>

#include "simulator/fixtures.h"
#include "simulator/server_impl.h"

namespace lumora::sim {

namespace {

constexpr auto kDefaultDelay = std::chrono::milliseconds(1000);

struct GenerationInfo {
    Generation generation;
    const char* name;
    const char* apiVersion;  // null: the fixture's
    const char* swVersion;
};

// Firmware figures as such bridges report them; a BSB002 keeps its fixture's.
constexpr std::array<GenerationInfo, 3> kGenerations{{
    {Generation::BSB001, "BSB001", "1.16.0", "01041302"},
    {Generation::BSB002, "BSB002", nullptr, nullptr},
    {Generation::BSB003, "BSB003", "1.73.0", "1973054010"},
}};

const GenerationInfo& infoOf(Generation generation) {
    for (const auto& info : kGenerations) {
        if (info.generation == generation) return info;
    }
    return kGenerations[1];
}

}  // namespace

const char* toString(Generation generation) {
    return infoOf(generation).name;
}

std::optional<Generation> generationFromString(std::string_view name) {
    for (const auto& info : kGenerations) {
        if (name == info.name) return info.generation;
    }
    return std::nullopt;
}

SimServer::Impl::Impl(ServerOptions o) : options(std::move(o)), root(makeRootCertificate()) {
    const GenerationInfo& info = infoOf(options.model);
    Json forced = Json::object();
    forced["modelid"] = info.name;
    Json defaults = Json::object();
    defaults["name"] = "Lumora bridge";
    (info.apiVersion ? forced : defaults)["apiversion"] =
        info.apiVersion ? info.apiVersion : "1.62.0";
    (info.swVersion ? forced : defaults)["swversion"] =
        info.swVersion ? info.swVersion : "1962097030";
    model.setHardware(std::move(forced), std::move(defaults));
    if (!loadFixture(options.fixture, &loadError) && loadError.empty()) {
        loadError = "cannot load fixture " + options.fixture;
    }
    if (options.linkButtonPressed) pressLinkButton();
    // From here on: the fixture the bridge starts with is no change.
    model.setChangeListener([this](Json containers) { streams.publish(containers); });
}

void SimServer::Impl::pressLinkButton() {
    std::lock_guard lock(mutex);
    model.pressLinkButton(nowLocked());
}

void SimServer::Impl::releaseLinkButton() {
    std::lock_guard lock(mutex);
    model.releaseLinkButton();
}

bool SimServer::Impl::loadFixture(const std::string& nameOrPath, std::string* error) {
    return applyFixture(readFixture(nameOrPath, error), error);
}

bool SimServer::Impl::applyFixture(const Json& fixture, std::string* error) {
    if (fixture.is_discarded()) return false;
    {
        std::lock_guard lock(mutex);
        if (!model.load(fixture, nowLocked(), error)) return false;
    }
    followBridgeId();
    return true;
}

bool SimServer::Impl::setReachable(const std::string& lightId, bool reachable) {
    std::lock_guard lock(mutex);
    return model.setReachable(lightId, reachable, nowLocked());
}

void SimServer::Impl::injectFault(Fault kind, int count, std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex);
    if (count <= 0) {
        faults.clear();
        return;
    }
    // A delay fault without a duration would be no fault at all.
    if (kind == Fault::delay && delay.count() <= 0) delay = kDefaultDelay;
    faults.push_back({kind, count, delay});
}

void SimServer::Impl::clearFaults() {
    std::lock_guard lock(mutex);
    faults.clear();
}

void SimServer::Impl::advanceClock(std::chrono::seconds by) {
    std::lock_guard lock(mutex);
    if (by.count() > 0) {
        clockOffset = std::min<std::chrono::milliseconds>(
            clockOffset + std::min(by, kMaxClockOffset), kMaxClockOffset);
    }
    model.runDueSchedules(nowLocked());
}

std::string SimServer::Impl::addUser(const std::string& devicetype) {
    std::lock_guard lock(mutex);
    return model.addUser(devicetype, nowLocked());
}

Json SimServer::Impl::logJson() const {
    std::lock_guard lock(mutex);
    Json list = Json::array();
    for (const auto& entry : log) {
        Json item = Json::object();
        item["method"] = entry.method;
        item["path"] = entry.path;
        item["body"] = entry.body;
        item["body_size"] = entry.bodySize;
        item["sim_time"] = formatUtcMillis(entry.simTime);
        item["wall_ms"] =
            std::chrono::duration_cast<std::chrono::milliseconds>(entry.wallTime - startedAt)
                .count();
        item["fault"] = entry.fault;
        item["scheme"] = entry.scheme;
        list.push_back(std::move(item));
    }
    return list;
}

void SimServer::Impl::clearLog() {
    std::deque<LoggedRequest> dropped;
    {
        std::lock_guard lock(mutex);
        dropped.swap(log);
    }
    dropped.clear();
    // Freed blocks stay with the allocator otherwise, and a full log of
    // large requests would keep the process large long after it is cleared.
    malloc_trim(0);
}

Json SimServer::Impl::state() const {
    std::lock_guard lock(mutex);
    return model.dump(nowLocked());
}

bool SimServer::Impl::waitForTick(std::chrono::milliseconds duration) {
    std::unique_lock lock(stopMutex);
    stopSignal.wait_for(lock, duration, [this] { return stopping || rescan; });
    rescan = false;
    return !stopping;
}

void SimServer::Impl::wakeTicker() {
    {
        std::lock_guard lock(stopMutex);
        rescan = true;
    }
    stopSignal.notify_all();
}

bool SimServer::Impl::sleepUnlessStopping(std::chrono::milliseconds duration) {
    std::unique_lock lock(stopMutex);
    return !stopSignal.wait_for(lock, duration, [this] { return stopping; });
}

void SimServer::pressLinkButton() {
    impl_->pressLinkButton();
}
void SimServer::releaseLinkButton() {
    impl_->releaseLinkButton();
}

bool SimServer::loadFixture(const std::string& nameOrPath, std::string* error) {
    return impl_->loadFixture(nameOrPath, error);
}

bool SimServer::loadFixtureJson(const nlohmann::ordered_json& fixture, std::string* error) {
    return impl_->applyFixture(fixture, error);
}

bool SimServer::setReachable(const std::string& lightId, bool reachable) {
    return impl_->setReachable(lightId, reachable);
}

void SimServer::injectFault(Fault kind, int count, std::chrono::milliseconds delay) {
    impl_->injectFault(kind, count, delay);
}

void SimServer::clearFaults() {
    impl_->clearFaults();
}

std::chrono::system_clock::time_point SimServer::now() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->nowLocked();
}

void SimServer::advanceClock(std::chrono::seconds by) {
    impl_->advanceClock(by);
}

std::string SimServer::addUser(const std::string& devicetype) {
    return impl_->addUser(devicetype);
}

std::vector<LoggedRequest> SimServer::requestLog() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->log.begin(), impl_->log.end()};
}

void SimServer::clearLog() {
    impl_->clearLog();
}

nlohmann::ordered_json SimServer::state() const {
    return impl_->state();
}

nlohmann::ordered_json SimServer::call(const std::string& method, const std::string& path,
                                       const std::string& body) {
    nlohmann::ordered_json reply;
    {
        std::lock_guard lock(impl_->mutex);
        reply = impl_->model.handle(method, path, body, impl_->nowLocked());
    }
    if (method != "GET") impl_->wakeTicker();
    return reply;
}

SimServer::Reply SimServer::handle(const std::string& method, const std::string& path,
                                   const std::string& body) {
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.body = body;
    httplib::Response response;
    impl_->serve(request, response);
    Reply reply{response.status < 0 ? 200 : response.status,
                response.get_header_value("Content-Type"), response.body};
    if (response.content_provider_) {
        // What a socket would have carried: up to where the provider stops.
        bool more = true;
        httplib::DataSink sink;
        sink.write = [&](const char* data, std::size_t length) {
            reply.body.append(data, length);
            return true;
        };
        sink.done = [&] { more = false; };
        sink.is_writable = [] { return true; };
        while (more && reply.body.size() < response.content_length_) {
            const std::size_t before = reply.body.size();
            more = response.content_provider_(before, response.content_length_ - before, sink) &&
                   reply.body.size() > before;
        }
    }
    return reply;
}

}  // namespace lumora::sim
