#include "shortcuts/portal/portal_shortcuts.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>
#include <cstdio>
#include <utility>

#include "shortcuts/portal/portal_trigger.h"

namespace lumora {
namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcuts = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
constexpr const char* kSession = "org.freedesktop.portal.Session";
constexpr const char* kRegistry = "org.freedesktop.host.portal.Registry";

// a(sa{sv}): shortcut id and its properties.
using ShortcutList = QList<std::pair<QString, QVariantMap>>;

void log(const QString& text) {
    std::fprintf(stderr, "lumora: global shortcuts: %s\n", text.toLocal8Bit().constData());
}

QDBusMessage portalCall(const char* interface, const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, interface, method);
}

// A handle the portal sends as a string or as an object path.
QString handleText(const QVariant& v) {
    if (v.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return v.value<QDBusObjectPath>().path();
    return v.toString();
}

}  // namespace

bool isWaylandSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

std::optional<unsigned> portalShortcutsVersion(const QDBusConnection& bus,
                                               const QString& applicationId, int timeoutMs) {
    if (!bus.isConnected()) return std::nullopt;
    QDBusMessage registration = portalCall(kRegistry, "Register");
    registration << applicationId << QVariantMap{};
    const QDBusMessage registered = bus.call(registration, QDBus::Block, timeoutMs);
    if (registered.type() == QDBusMessage::ErrorMessage) {
        const QString error = registered.errorName();
        if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            error == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
            return std::nullopt;  // no portal at all
        if (error != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") &&
            error != QLatin1String("org.freedesktop.DBus.Error.UnknownInterface"))
            log(QStringLiteral("registering the application id: ") + registered.errorMessage());
    }
    QDBusMessage m =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    m << QString::fromLatin1(kShortcuts) << QStringLiteral("version");
    const QDBusMessage reply = bus.call(m, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const unsigned version = reply.arguments().first().value<QDBusVariant>().variant().toUInt(&ok);
    if (!ok) return std::nullopt;
    return version;
}

QString shortcutTitle(const KeyboardShortcuts::Name& name) {
    using Name = KeyboardShortcuts::Name;
    // The pane's texts, under the pane's translation context.
    static const char* const everything = "lumora::prefs::HotkeysEverythingView";
    const std::pair<const Name*, const char*> rows[] = {
        {&Name::actionAllLightsOff, "Off"},       {&Name::actionAllLightsOn, "On"},
        {&Name::actionAllLightsDarker, "Darker"}, {&Name::actionAllLightsBrighter, "Brighter"},
        {&Name::actionTogglePanel, "Open Panel"}, {&Name::actionAllLightsRed, "Red"},
        {&Name::actionAllLightsBlue, "Blue"},     {&Name::actionAllLightsWhite, "White"},
    };
    for (const auto& [n, text] : rows)
        if (*n == name) return QCoreApplication::translate(everything, text);
    const Name* slotNames[] = {&Name::actionCustomGroup1, &Name::actionCustomGroup2,
                               &Name::actionCustomGroup3, &Name::actionCustomGroup4,
                               &Name::actionCustomGroup5};
    for (int k = 0; k < 5; ++k) {
        if (*slotNames[k] == name)
            return QCoreApplication::translate("lumora::prefs::HotkeysIndividualView",
                                               "Shortcut of hotkey %1")
                .arg(k + 1);
    }
    return QString::fromStdString(name.rawValue());
}

PortalShortcuts::PortalShortcuts(KeyboardShortcuts& shortcuts, QDBusConnection bus, Options options)
    : shortcuts_(shortcuts), bus_(std::move(bus)), options_(std::move(options)) {
    qDBusRegisterMetaType<std::pair<QString, QVariantMap>>();
    qDBusRegisterMetaType<ShortcutList>();
}

PortalShortcuts::~PortalShortcuts() {
    if (changeObserver_ && shortcuts_.notificationCenter())
        shortcuts_.notificationCenter()->removeObserver(changeObserver_);
    closeSession();
}

QString PortalShortcuts::trigger(const KeyboardShortcuts::Name& name) const {
    auto it = triggers_.find(name.rawValue());
    return it == triggers_.end() ? QString() : it->second;
}

void PortalShortcuts::start() {
    if (started_) return;
    started_ = true;
    bus_.connect(kService, kPath, kShortcuts, "Activated", this, SLOT(onActivated(QDBusMessage)));
    bus_.connect(kService, kPath, kShortcuts, "ShortcutsChanged", this,
                 SLOT(onShortcutsChanged(QDBusMessage)));
    if (const auto& center = shortcuts_.notificationCenter()) {
        changeObserver_ = center->addObserver(KeyboardShortcuts::shortcutByNameDidChange,
                                              [this](const Notification&) { scheduleRebind(); });
    }
    createSession();
}

void PortalShortcuts::request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                              ResponseHandler handler) {
    // The portal answers on a request object whose path follows from our
    // unique name and the token: listen there before asking, so a quick
    // answer is not missed.
    const QString token = QStringLiteral("lumora%1").arg(++tokens_);
    QString sender = bus_.baseService();
    if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    bus_.connect(kService, path, kRequest, "Response", this, SLOT(onResponse(QDBusMessage)));
    requests_[path] = std::move(handler);

    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage m = portalCall(kShortcuts, method);
    m.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(m), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, path, method] {
        watcher->deleteLater();
        QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            log(method + QStringLiteral(" failed: ") + reply.error().message());
            forgetRequest(path);
            return;
        }
        // An older portal may put the request elsewhere.
        const QString actual = reply.value().path();
        auto it = requests_.find(path);
        if (actual == path || it == requests_.end()) return;
        ResponseHandler handler = std::move(it->second);
        forgetRequest(path);
        bus_.connect(kService, actual, kRequest, "Response", this, SLOT(onResponse(QDBusMessage)));
        requests_[actual] = std::move(handler);
    });
}

void PortalShortcuts::forgetRequest(const QString& path) {
    if (requests_.erase(path) == 0) return;
    bus_.disconnect(kService, path, kRequest, "Response", this, SLOT(onResponse(QDBusMessage)));
}

void PortalShortcuts::onResponse(const QDBusMessage& message) {
    auto it = requests_.find(message.path());
    if (it == requests_.end() || message.arguments().size() < 2) return;
    ResponseHandler handler = std::move(it->second);
    forgetRequest(message.path());
    handler(message.arguments().at(0).toUInt(), qdbus_cast<QVariantMap>(message.arguments().at(1)));
}

void PortalShortcuts::createSession() {
    const unsigned generation = ++generation_;
    QVariantMap options{{QStringLiteral("session_handle_token"),
                         QStringLiteral("lumora_session%1").arg(generation)}};
    request("CreateSession", {}, options,
            [this, generation](unsigned code, const QVariantMap& results) {
                const QString handle = handleText(results.value(QStringLiteral("session_handle")));
                if (code != 0 || handle.isEmpty()) {
                    log(QStringLiteral("the desktop did not create a session (%1)").arg(code));
                    return;
                }
                if (generation != generation_) {
                    // A newer session was asked for meanwhile: this one goes.
                    QDBusMessage close =
                        QDBusMessage::createMethodCall(kService, handle, kSession, "Close");
                    bus_.asyncCall(close);
                    return;
                }
                session_ = handle;
                bus_.connect(kService, session_, kSession, "Closed", this,
                             SLOT(onSessionClosed(QDBusMessage)));
                bindShortcuts();
            });
}

void PortalShortcuts::bindShortcuts() {
    ShortcutList list;
    for (const auto& name : KeyboardShortcuts::Name::all()) {
        QVariantMap properties{{QStringLiteral("description"), options_.describe(name)}};
        if (auto shortcut = shortcuts_.getShortcut(name)) {
            if (auto trigger = portalTrigger(*shortcut))
                properties.insert(QStringLiteral("preferred_trigger"),
                                  QString::fromStdString(*trigger));
        }
        list.append({QString::fromStdString(name.rawValue()), properties});
    }
    const unsigned generation = generation_;
    request("BindShortcuts",
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(list), QString()},
            {}, [this, generation](unsigned code, const QVariantMap& results) {
                if (generation != generation_) return;
                if (code != 0) {
                    log(QStringLiteral("the desktop did not bind the shortcuts (%1)").arg(code));
                    return;
                }
                bound_ = true;
                takeTriggers(results.value(QStringLiteral("shortcuts")));
                emit triggersChanged();
            });
}

bool PortalShortcuts::takeTriggers(const QVariant& shortcuts) {
    bool changed = false;
    for (const auto& [id, properties] : qdbus_cast<ShortcutList>(shortcuts)) {
        const std::string name = id.toStdString();
        bool ours = false;
        for (const auto& n : KeyboardShortcuts::Name::all()) ours = ours || n.rawValue() == name;
        if (!ours) continue;
        const QString text = properties.value(QStringLiteral("trigger_description")).toString();
        auto [it, added] = triggers_.try_emplace(name, text);
        if (added || it->second != text) changed = true;
        it->second = text;
    }
    return changed;
}

void PortalShortcuts::onShortcutsChanged(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (args.size() < 2 || session_.isEmpty() || handleText(args.at(0)) != session_) return;
    if (takeTriggers(args.at(1))) emit triggersChanged();
}

void PortalShortcuts::onActivated(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (args.size() < 2 || session_.isEmpty() || handleText(args.at(0)) != session_) return;
    const std::string id = args.at(1).toString().toStdString();
    for (const auto& name : KeyboardShortcuts::Name::all()) {
        if (name.rawValue() == id) {
            shortcuts_.handleActivated(name);
            return;
        }
    }
}

void PortalShortcuts::onSessionClosed(const QDBusMessage& message) {
    if (message.path() != session_) return;
    log(QStringLiteral("the desktop closed the session"));
    bus_.disconnect(kService, session_, kSession, "Closed", this,
                    SLOT(onSessionClosed(QDBusMessage)));
    session_.clear();
    bound_ = false;
    emit triggersChanged();
}

bool PortalShortcuts::configure(const QString& parentWindow) {
    if (!canConfigure()) return false;
    QDBusMessage m = portalCall(kShortcuts, "ConfigureShortcuts");
    m << QVariant::fromValue(QDBusObjectPath(session_)) << parentWindow << QVariantMap{};
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(m), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher] {
        watcher->deleteLater();
        if (watcher->isError())
            log(QStringLiteral("ConfigureShortcuts failed: ") + watcher->error().message());
    });
    return true;
}

void PortalShortcuts::closeSession() {
    if (session_.isEmpty()) return;
    bus_.disconnect(kService, session_, kSession, "Closed", this,
                    SLOT(onSessionClosed(QDBusMessage)));
    bus_.asyncCall(QDBusMessage::createMethodCall(kService, session_, kSession, "Close"));
    session_.clear();
    bound_ = false;
}

void PortalShortcuts::scheduleRebind() {
    // Several names may change at once (a reset): one new session for all.
    if (rebindQueued_) return;
    rebindQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        rebindQueued_ = false;
        // Preferred triggers are read only when shortcuts are bound: a new
        // session binds them afresh with the recorded combinations.
        closeSession();
        createSession();
        emit triggersChanged();
    });
}

}  // namespace lumora
