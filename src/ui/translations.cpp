#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/utf8.h"

namespace lumora::ui {

namespace {

// The shortcut module's texts as it produces them; lupdate reads this list
// into the translation files.
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
    if (qstrcmp(context, kShortcutTextContext) == 0) return all(kShortcutTexts);
    return {};
}

// Long pastes would fill the error bar; the start says enough.
QString shownAddress(const std::string& typed) {
    const QString t = QString::fromStdString(trimUnicodeSpace(typed));
    return t.size() > 48 ? t.left(47) + QChar(0x2026) : t;
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

QString connectionErrorText(const ConnectionError& error) {
    // The address problems are worded where the address is typed, in the
    // connection pane's own context.
    switch (error.problem) {
        case ConnectionProblem::none:
            break;
        case ConnectionProblem::pressLinkButton:
            return QCoreApplication::translate("AppSettings",
                                               "Bridge responded: Press LINK BUTTON and retry");
        case ConnectionProblem::unreachable:
            return QCoreApplication::translate(
                "AppSettings", "Unable to connect to the Hue bridge. Is the IP address correct?");
        case ConnectionProblem::noUserName:
            return QCoreApplication::translate(
                "AppSettings",
                "The bridge accepted pairing but sent no user name. Please pair again.");
        case ConnectionProblem::noAddress:
            return QCoreApplication::translate(
                "lumora::prefs::ConfigurationPart",
                "No bridge address yet. Press Detect, or choose Manual and type it, for example "
                "192.168.1.20.");
        case ConnectionProblem::certificateRefused:
            return certificateRefusalText(error.address, error.certificate);
        case ConnectionProblem::plainAfterSecure:
            return QCoreApplication::translate(
                       "AppSettings",
                       "The bridge %1 at %2 answers only over plain HTTP, but it answered securely "
                       "before. It is not used over plain HTTP.")
                .arg(QString::fromStdString(error.bridgeId), shownAddress(error.address));
        case ConnectionProblem::invalidAddress:
            return QCoreApplication::translate(
                       "lumora::prefs::ConfigurationPart",
                       "\"%1\" is not a bridge address. Type the address alone, without spaces "
                       "or a path, for example 192.168.1.20 or 192.168.1.20:80.")
                .arg(shownAddress(error.address));
    }
    return {};
}

QString certificateRefusalText(const std::string& at, const TlsRefusal& refusal) {
    const QString where = shownAddress(at);
    switch (refusal.reason) {
        case TlsFailure::none:
            break;
        case TlsFailure::untrustedIssuer:
            return QCoreApplication::translate(
                       "AppSettings",
                       "The bridge at %1 presented a certificate that is not from the bridge's "
                       "maker. Nothing was sent to it.")
                .arg(where);
        case TlsFailure::wrongBridge:
            return QCoreApplication::translate(
                       "AppSettings",
                       "The bridge at %1 is a different bridge: expected id %2, got %3. Nothing "
                       "was sent to it.")
                .arg(where, QString::fromStdString(refusal.expected),
                     QString::fromStdString(refusal.got));
        case TlsFailure::wrongHost:
            return QCoreApplication::translate(
                       "AppSettings", "The bridge at %1 presented a certificate for another name.")
                .arg(where);
        case TlsFailure::expired:
            return QCoreApplication::translate(
                       "AppSettings",
                       "The bridge at %1 presented a certificate that expired on %2. Nothing was "
                       "sent to it.")
                .arg(where, QString::fromStdString(refusal.date));
        case TlsFailure::notYetValid:
            return QCoreApplication::translate(
                       "AppSettings",
                       "The bridge at %1 presented a certificate that is not valid before %2. Is "
                       "the computer's clock right?")
                .arg(where, QString::fromStdString(refusal.date));
        case TlsFailure::notForServer:
            return QCoreApplication::translate(
                       "AppSettings",
                       "The bridge at %1 presented a certificate that is not for a server. "
                       "Nothing was sent to it.")
                .arg(where);
        case TlsFailure::fingerprintMismatch:
            return QCoreApplication::translate(
                       "AppSettings",
                       "The bridge at %1 presented a certificate other than the one you trusted. "
                       "Nothing was sent to it.")
                .arg(where);
        case TlsFailure::handshakeFailed:
            return QCoreApplication::translate(
                       "AppSettings", "The bridge at %1 could not agree on a secure connection.")
                .arg(where);
    }
    return {};
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

}  // namespace lumora::ui
