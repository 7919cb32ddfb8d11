#include "panel/status_notifier_item.h"

#include <unistd.h>

#include <QAction>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMetaObject>
#include <QtEndian>
#include <atomic>
#include <cstdio>
#include <vector>

namespace lumora::panel::sni {

// a(iiay): ARGB32 images, each pixel in network byte order.
struct Pixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using Pixmaps = QList<Pixmap>;

// (sa(iiay)ss): icon name, images, title, text.
struct ToolTip {
    QString iconName;
    Pixmaps pixmaps;
    QString title;
    QString text;
};

// (ia{sv}av): a menu item, its properties and its children.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuLayout> children;
};

// (ia{sv})
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// (isvu)
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEvents = QList<MenuEvent>;

}  // namespace lumora::panel::sni

Q_DECLARE_METATYPE(lumora::panel::sni::Pixmap)
Q_DECLARE_METATYPE(lumora::panel::sni::ToolTip)
Q_DECLARE_METATYPE(lumora::panel::sni::MenuLayout)
Q_DECLARE_METATYPE(lumora::panel::sni::MenuItemProperties)
Q_DECLARE_METATYPE(lumora::panel::sni::MenuEvent)

namespace lumora::panel::sni {

QDBusArgument& operator<<(QDBusArgument& a, const Pixmap& p) {
    a.beginStructure();
    a << p.width << p.height << p.bytes;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, Pixmap& p) {
    a.beginStructure();
    a >> p.width >> p.height >> p.bytes;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const ToolTip& t) {
    a.beginStructure();
    a << t.iconName << t.pixmaps << t.title << t.text;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, ToolTip& t) {
    a.beginStructure();
    a >> t.iconName >> t.pixmaps >> t.title >> t.text;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const MenuLayout& m) {
    a.beginStructure();
    a << m.id << m.properties;
    a.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const MenuLayout& child : m.children) a << QDBusVariant(QVariant::fromValue(child));
    a.endArray();
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuLayout& m) {
    a.beginStructure();
    a >> m.id >> m.properties;
    a.beginArray();
    while (!a.atEnd()) {
        QDBusVariant v;
        a >> v;
        m.children.push_back(qdbus_cast<MenuLayout>(v.variant()));
    }
    a.endArray();
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const MenuItemProperties& p) {
    a.beginStructure();
    a << p.id << p.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuItemProperties& p) {
    a.beginStructure();
    a >> p.id >> p.properties;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const MenuEvent& e) {
    a.beginStructure();
    a << e.id << e.eventId << e.data << e.timestamp;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuEvent& e) {
    a.beginStructure();
    a >> e.id >> e.eventId >> e.data >> e.timestamp;
    a.endStructure();
    return a;
}

namespace {

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<Pixmap>();
        qDBusRegisterMetaType<Pixmaps>();
        qDBusRegisterMetaType<ToolTip>();
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<MenuItemPropertiesList>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<MenuEvents>();
        return true;
    }();
    (void)done;
}

constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48};

Pixmaps pixmapsOf(const QIcon& icon) {
    Pixmaps out;
    if (icon.isNull()) return out;
    for (int size : kPixmapSizes) {
        QImage image =
            icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) continue;
        Pixmap p{image.width(), image.height(), {}};
        p.bytes.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        auto* dst = reinterpret_cast<uchar*>(p.bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, dst += 4) qToBigEndian(row[x], dst);
        }
        out.push_back(std::move(p));
    }
    return out;
}

// dbusmenu marks a mnemonic with "_" where Qt uses "&".
QString menuLabel(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'&' && i + 1 < text.size()) {
            ++i;
            out += text[i] == u'&' ? QStringLiteral("&") : QStringLiteral("_") + text[i];
        } else if (c == u'_') {
            out += QStringLiteral("__");
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

class ItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(lumora::panel::sni::Pixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyName)
    Q_PROPERTY(lumora::panel::sni::Pixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ emptyName)
    Q_PROPERTY(lumora::panel::sni::Pixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(lumora::panel::sni::ToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

  public:
    ItemAdaptor(QObject* host, StatusNotifierItem& item) : QDBusAbstractAdaptor(host), item_(item) {
        setAutoRelaySignals(false);
        connect(&item, &StatusNotifierItem::iconChanged, this, [this] {
            pixmaps_ = pixmapsOf(item_.icon());
            emit NewIcon();
            emit NewToolTip();
        });
        connect(&item, &StatusNotifierItem::titleChanged, this, [this] {
            emit NewTitle();
            emit NewToolTip();
        });
        pixmaps_ = pixmapsOf(item.icon());
    }

    QString category() const { return QStringLiteral("Hardware"); }
    QString id() const { return item_.id(); }
    QString title() const { return item_.title(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    // Images only: they follow the panel's darkness, and a run from the
    // build tree has no icon theme entry to name.
    QString iconName() const { return {}; }
    QString emptyName() const { return {}; }
    Pixmaps iconPixmap() const { return pixmaps_; }
    Pixmaps noPixmaps() const { return {}; }
    ToolTip toolTip() const { return {QString(), pixmaps_, item_.title(), QString()}; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const {
        return QDBusObjectPath(item_.hasMenu() ? QStringLiteral("/MenuBar")
                                               : QStringLiteral("/NO_DBUSMENU"));
    }

  public slots:
    void Activate(int x, int y) { emit item_.activated(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { emit item_.secondaryActivated(QPoint(x, y)); }
    void ContextMenu(int x, int y) { emit item_.contextMenuRequested(QPoint(x, y)); }
    void Scroll(int, const QString&) {}

  signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

  private:
    StatusNotifierItem& item_;
    Pixmaps pixmaps_;
};

// The menu as com.canonical.dbusmenu: one level, the visible actions with
// ids from 1 in their order, read afresh on every call.
class MenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

  public:
    MenuAdaptor(QObject* host, StatusNotifierItem& item) : QDBusAbstractAdaptor(host), item_(item) {
        setAutoRelaySignals(false);
        connect(&item, &StatusNotifierItem::menuChanged, this, [this] { changed(); });
    }

    uint version() const { return 3; }
    QString textDirection() const {
        return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                     : QStringLiteral("ltr");
    }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    // The host's menu changed under it: a new revision.
    void changed() {
        ++revision_;
        emit LayoutUpdated(revision_, 0);
    }

  public slots:
    uint GetLayout(int parentId, int depth, const QStringList& names,
                   lumora::panel::sni::MenuLayout& layout) {
        layout = MenuLayout{parentId, {}, {}};
        if (parentId == 0) {
            layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
            if (depth != 0) {
                const auto items = actions();
                for (std::size_t i = 0; i < items.size(); ++i) {
                    layout.children.push_back(
                        {static_cast<int>(i) + 1, properties(items[i], names), {}});
                }
            }
        } else if (QAction* a = action(parentId)) {
            layout.properties = properties(a, names);
        }
        return revision_;
    }

    lumora::panel::sni::MenuItemPropertiesList GetGroupProperties(const QList<int>& ids,
                                                                  const QStringList& names) {
        MenuItemPropertiesList out;
        for (int id : ids) {
            if (QAction* a = action(id)) out.push_back({id, properties(a, names)});
        }
        return out;
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        QAction* a = action(id);
        return QDBusVariant(a ? properties(a, {name}).value(name) : QVariant());
    }

    void Event(int id, const QString& eventId, const QDBusVariant&, uint) { run(id, eventId); }

    QList<int> EventGroup(const lumora::panel::sni::MenuEvents& events) {
        QList<int> unknown;
        for (const MenuEvent& e : events) {
            if (!action(e.id)) unknown.push_back(e.id);
            run(e.id, e.eventId);
        }
        return unknown;
    }

    bool AboutToShow(int) { return false; }

    QList<int> AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
        idErrors.clear();
        return {};
    }

  signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

  private:
    std::vector<QAction*> actions() const {
        std::vector<QAction*> out;
        if (QMenu* m = item_.menu()) {
            for (QAction* a : m->actions())
                if (a->isVisible()) out.push_back(a);
        }
        return out;
    }
    QAction* action(int id) const {
        const auto items = actions();
        return id >= 1 && id <= static_cast<int>(items.size()) ? items[id - 1] : nullptr;
    }
    static QVariantMap properties(QAction* a, const QStringList& names) {
        QVariantMap p;
        if (a->isSeparator()) {
            p.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            p.insert(QStringLiteral("label"), menuLabel(a->text()));
            p.insert(QStringLiteral("enabled"), a->isEnabled());
        }
        if (names.isEmpty()) return p;
        QVariantMap asked;
        for (const QString& n : names)
            if (p.contains(n)) asked.insert(n, p.value(n));
        return asked;
    }
    // A host's click runs the action on the next turn, after the reply.
    void run(int id, const QString& eventId) {
        if (eventId != QLatin1String("clicked")) return;
        if (QAction* a = action(id)) {
            QPointer<QAction> guarded(a);
            QMetaObject::invokeMethod(
                this,
                [guarded] {
                    if (guarded) guarded->trigger();
                },
                Qt::QueuedConnection);
        }
    }

    StatusNotifierItem& item_;
    uint revision_ = 1;
};

}  // namespace lumora::panel::sni

namespace lumora::panel {

namespace {

// Tells the host's menu when the actions change.
class MenuWatcher : public QObject {
  public:
    MenuWatcher(StatusNotifierItem* item) : QObject(item), item_(item) {}
    bool eventFilter(QObject*, QEvent* e) override {
        const auto t = e->type();
        if (t == QEvent::ActionAdded || t == QEvent::ActionChanged || t == QEvent::ActionRemoved) {
            // Once per turn of the loop, however many changed.
            if (!pending_) {
                pending_ = true;
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        pending_ = false;
                        emit item_->menuChanged();
                    },
                    Qt::QueuedConnection);
            }
        }
        return false;
    }

  private:
    StatusNotifierItem* item_;
    bool pending_ = false;
};

}  // namespace

bool StatusNotifierItem::watcherPresent(const QDBusConnection& bus) {
    if (!bus.isConnected() || !bus.interface()) return false;
    return bus.interface()->isServiceRegistered(QString::fromLatin1(kWatcherService)).value();
}

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QString id, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), id_(std::move(id)), title_(id_) {
    sni::registerTypes();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!started_) return;
    bus_.unregisterObject(QStringLiteral("/StatusNotifierItem"));
    bus_.unregisterObject(QStringLiteral("/MenuBar"));
    bus_.unregisterService(service_);
}

bool StatusNotifierItem::start() {
    if (started_) return true;
    if (!bus_.isConnected()) return false;
    static std::atomic<int> counter{0};
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(getpid()).arg(++counter);

    auto* itemHost = new QObject(this);
    new sni::ItemAdaptor(itemHost, *this);
    auto* menuHost = new QObject(this);
    new sni::MenuAdaptor(menuHost, *this);
    if (!bus_.registerObject(QStringLiteral("/StatusNotifierItem"), itemHost,
                             QDBusConnection::ExportAdaptors) ||
        !bus_.registerObject(QStringLiteral("/MenuBar"), menuHost,
                             QDBusConnection::ExportAdaptors) ||
        !bus_.registerService(service_)) {
        std::fprintf(stderr, "lumora: could not export the tray item on the session bus: %s\n",
                     qPrintable(bus_.lastError().message()));
        bus_.unregisterObject(QStringLiteral("/StatusNotifierItem"));
        bus_.unregisterObject(QStringLiteral("/MenuBar"));
        return false;
    }
    started_ = true;

    // A host restarting (a bar reloaded) brings a new watcher that knows
    // nothing of us.
    watcher_ = new QDBusServiceWatcher(QString::fromLatin1(kWatcherService), bus_,
                                       QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this,
            [this] { registerWithWatcher(); });
    registerWithWatcher();
    return true;
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kWatcherService), QStringLiteral("/StatusNotifierWatcher"),
        QString::fromLatin1(kWatcherService), QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* w) {
        if (w->isError()) {
            std::fprintf(stderr, "lumora: the tray did not take the icon: %s\n",
                         qPrintable(w->error().message()));
        }
        w->deleteLater();
    });
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    icon_ = icon;
    emit iconChanged();
}

void StatusNotifierItem::setTitle(const QString& title) {
    if (title == title_) return;
    title_ = title;
    emit titleChanged();
}

void StatusNotifierItem::setMenu(QMenu* menu) {
    if (menu_ == menu) return;
    if (!menuWatcher_) menuWatcher_ = new MenuWatcher(this);
    if (menu_) menu_->removeEventFilter(menuWatcher_);
    menu_ = menu;
    if (menu) menu->installEventFilter(menuWatcher_);
    emit menuChanged();
}

}  // namespace lumora::panel

#include "status_notifier_item.moc"
