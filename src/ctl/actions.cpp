#include "ctl/actions.h"

#include <dbus/dbus.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <ostream>

#include "app/bridge_controller.h"
#include "app/hotkey_actions.h"
#include "base/setting_keys.h"

namespace lumora::ctl {
namespace {

// Spelled as the tray program's control interface has them.
constexpr const char* kService = "io.github.lumora.Lumora";
constexpr const char* kPath = "/io/github/lumora/Lumora";
constexpr const char* kInterface = "io.github.lumora.Lumora1";

struct Command {
    const char* verb;
    const char* method;
    AllGroupsAction action;  // for the seven on every room and zone
    bool panel;
};

constexpr Command kCommands[] = {
    {"all-on", "AllOn", AllGroupsAction::on, false},
    {"all-off", "AllOff", AllGroupsAction::off, false},
    {"brighter", "Brighter", AllGroupsAction::brighter, false},
    {"darker", "Darker", AllGroupsAction::darker, false},
    {"red", "Red", AllGroupsAction::red, false},
    {"blue", "Blue", AllGroupsAction::blue, false},
    {"white", "White", AllGroupsAction::white, false},
    {"slot", "Slot", AllGroupsAction::on, false},
    {"toggle-panel", "TogglePanel", AllGroupsAction::on, true},
    {"show-panel", "ShowPanel", AllGroupsAction::on, true},
    {"hide-panel", "HidePanel", AllGroupsAction::on, true},
};

const Command* find(const std::string& verb) {
    for (const auto& c : kCommands)
        if (verb == c.verb) return &c;
    return nullptr;
}

// The slot of "slot N", 1 to 5.
int slotOf(const std::vector<std::string>& words) {
    if (words.size() != 2 || words[1].size() != 1 || words[1][0] < '1' || words[1][0] > '5')
        throw UsageError{"slot takes a hotkey slot from 1 to 5"};
    return words[1][0] - '0';
}

// The session bus's address, without ever starting one: libdbus would run
// dbus-launch for a missing address on an X display.
std::string sessionBusAddress() {
    if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) return a;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return {};
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
    char* escaped = dbus_address_escape_value(socket.c_str());
    if (!escaped) return {};
    std::string out = "unix:path=" + std::string(escaped);
    dbus_free(escaped);
    return out;
}

struct ErrorGuard {
    DBusError e;
    ErrorGuard() { dbus_error_init(&e); }
    ~ErrorGuard() { dbus_error_free(&e); }
};

struct ConnectionClose {
    void operator()(DBusConnection* c) const {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    }
};
struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};

enum class Answer { done, refused, absent };

// Calls `method` on the tray program; `absent` when no bus or no owner.
Answer call(const char* verb, const char* method, std::optional<std::int32_t> argument,
            std::ostream& err, std::chrono::milliseconds timeout) {
    const std::string address = sessionBusAddress();
    if (address.empty()) return Answer::absent;
    ErrorGuard error;
    std::unique_ptr<DBusConnection, ConnectionClose> bus(
        dbus_connection_open_private(address.c_str(), &error.e));
    if (!bus || !dbus_bus_register(bus.get(), &error.e)) return Answer::absent;
    std::unique_ptr<DBusMessage, MessageUnref> message(
        dbus_message_new_method_call(kService, kPath, kInterface, method));
    if (!message) throw std::bad_alloc();
    // Nothing is started for the name: no tray program, no call.
    dbus_message_set_auto_start(message.get(), false);
    if (argument) {
        const dbus_int32_t value = *argument;
        dbus_message_append_args(message.get(), DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID);
    }
    std::unique_ptr<DBusMessage, MessageUnref> reply(dbus_connection_send_with_reply_and_block(
        bus.get(), message.get(), static_cast<int>(timeout.count()), &error.e));
    if (reply) return Answer::done;
    if (dbus_error_has_name(&error.e, DBUS_ERROR_SERVICE_UNKNOWN) ||
        dbus_error_has_name(&error.e, DBUS_ERROR_NAME_HAS_NO_OWNER))
        return Answer::absent;
    err << "lumora-ctl: the tray program did not carry out " << verb << ": "
        << (dbus_error_has_name(&error.e, DBUS_ERROR_NO_REPLY)
                ? "it did not answer within " + std::to_string(timeout.count()) + " ms"
                : std::string(error.e.message ? error.e.message : error.e.name))
        << "\n";
    return Answer::refused;
}

}  // namespace

bool isTrayCommand(const std::string& verb) {
    return find(verb) != nullptr;
}

std::optional<int> viaTray(const std::vector<std::string>& words, std::optional<std::int64_t> in,
                           bool ownBridge, std::ostream& err, std::chrono::milliseconds timeout) {
    const Command& c = *find(words.at(0));
    std::optional<std::int32_t> argument;
    const char* method = c.method;
    if (c.method == std::string("Slot")) {
        argument = slotOf(words);
    } else if (words.size() != 1) {
        throw UsageError{std::string(c.verb) + " takes no argument"};
    } else if (in) {
        method = "DelayedOff";
        argument = static_cast<std::int32_t>(*in);
    }
    if (ownBridge && !c.panel) return std::nullopt;
    switch (call(c.verb, method, argument, err, timeout)) {
        case Answer::done:
            return 0;
        case Answer::refused:
            return 1;
        case Answer::absent:
            break;
    }
    if (!c.panel) return std::nullopt;
    err << "lumora-ctl: the tray program is not running; " << c.verb << " needs it\n";
    return 1;
}

void actDirectly(const std::vector<std::string>& words, BridgeController& controller) {
    const Command& c = *find(words.at(0));
    AppSettings& settings = controller.settings();
    // The step the tray program would take, as the Hotkeys pane stored it.
    const std::int64_t step = settings.defaults().integer(keys::keyIncrement);
    settings.setKeyIncrement(step == 0 ? keys::defaultKeyIncrement : step);
    HotkeyActions actions(controller, controller.services());
    if (c.method == std::string("Slot"))
        actions.applyGroupSlot(slotOf(words) - 1);
    else
        actions.applyToAllGroups(c.action);
}

}  // namespace lumora::ctl
