#include "panel/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>
#include <span>
#include <vector>

namespace lumora::panel {

namespace {

// Every text the core hands to a view, as it produces it; lupdate reads
// these lists into the translation files.
constexpr const char* kAppSettingsTexts[] = {
    QT_TRANSLATE_NOOP("AppSettings", "Bridge responded: Press LINK BUTTON and retry"),
    QT_TRANSLATE_NOOP("AppSettings",
                      "Unable to connect to the Hue bridge. Is the IP address correct?"),
    QT_TRANSLATE_NOOP("AppSettings",
                      "The bridge accepted pairing but sent no user name. Please pair again."),
    QT_TRANSLATE_NOOP("AppSettings", "We were unable to find any devices"),
    QT_TRANSLATE_NOOP("AppSettings", "No bridge address given."),
    QT_TRANSLATE_NOOP("AppSettings",
                      "\"%1\" is an HTTPS address; only plain HTTP bridges are supported for "
                      "now. Use HOST or HOST:PORT, for example 192.168.1.20 or "
                      "http://192.168.1.20:80."),
    QT_TRANSLATE_NOOP("AppSettings",
                      "\"%1\" is not a valid bridge address. Use HOST or HOST:PORT, for example "
                      "192.168.1.20, bridge.local:80 or [fe80::1]:80; http://HOST[:PORT] is "
                      "accepted too."),
};

constexpr const char* kShortcutTexts[] = {
    QT_TRANSLATE_NOOP("KeyboardShortcuts", "Record Shortcut"),
    QT_TRANSLATE_NOOP("KeyboardShortcuts", "Press Shortcut"),
    QT_TRANSLATE_NOOP("KeyboardShortcuts",
                      "This shortcut is already used by the menu item \u201C%1\u201D."),
    QT_TRANSLATE_NOOP("KeyboardShortcuts",
                      "This shortcut is already taken by the desktop or another program."),
    QT_TRANSLATE_NOOP("KeyboardShortcuts",
                      "Shortcuts held by the desktop can usually be changed in its keyboard "
                      "settings."),
};

// The hotkey pane's group actions: named by the core, translated by the
// picker in its own context.
[[maybe_unused]] constexpr const char* kGroupActionTexts[] = {
    QT_TRANSLATE_NOOP("lumora::prefs::GroupActionPicker", "(No Action)"),
    QT_TRANSLATE_NOOP("lumora::prefs::GroupActionPicker", "On"),
    QT_TRANSLATE_NOOP("lumora::prefs::GroupActionPicker", "Off"),
    QT_TRANSLATE_NOOP("lumora::prefs::GroupActionPicker", "Brighter"),
    QT_TRANSLATE_NOOP("lumora::prefs::GroupActionPicker", "Darker"),
};

template <std::size_t N>
std::span<const char* const> all(const char* const (&texts)[N]) {
    return {texts, N};
}

std::span<const char* const> textsOf(const char* context) {
    if (qstrcmp(context, kCoreTextContext) == 0) return all(kAppSettingsTexts);
    if (qstrcmp(context, kShortcutTextContext) == 0) return all(kShortcutTexts);
    return {};
}

std::vector<std::unique_ptr<QTranslator>>& installed() {
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

}  // namespace

int installTranslations(const QLocale& locale) {
    removeTranslations();
    auto own = std::make_unique<QTranslator>();
    // English is the source language: no file, nothing to install.
    if (own->load(locale, QStringLiteral("lumora"), QStringLiteral("_"),
                  QStringLiteral(":/i18n"))) {
        QCoreApplication::installTranslator(own.get());
        installed().push_back(std::move(own));
        // Qt's own texts (standard buttons, the line edit's menu), where the
        // system has them for this language.
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(qt.get());
            installed().push_back(std::move(qt));
        }
    }
    return static_cast<int>(installed().size());
}

void removeTranslations() {
    for (auto& t : installed()) QCoreApplication::removeTranslator(t.get());
    installed().clear();
}

QString translatedCoreText(const char* context, std::string_view english) {
    const QString text = QString::fromUtf8(english.data(), static_cast<qsizetype>(english.size()));
    if (text.isEmpty()) return text;
    for (const char* known : textsOf(context)) {
        const QString pattern = QString::fromUtf8(known);
        const qsizetype at = pattern.indexOf(QLatin1String("%1"));
        if (at < 0) {
            if (pattern == text) return QCoreApplication::translate(context, known);
            continue;
        }
        const QString before = pattern.left(at);
        const QString after = pattern.mid(at + 2);
        if (text.size() >= before.size() + after.size() && text.startsWith(before) &&
            text.endsWith(after)) {
            const QString argument =
                text.mid(before.size(), text.size() - before.size() - after.size());
            return QCoreApplication::translate(context, known).arg(argument);
        }
    }
    return text;
}

}  // namespace lumora::panel
