#pragma once
// The program's translations: loading them for a locale, the words for the
// core's connection problems, and the shortcut texts the core produces in
// English, translated when a view shows them.

#include <QLocale>
#include <QString>
#include <string_view>

#include "app/app_settings.h"

namespace lumora::ui {

// Installs the program's own translation for `locale` (embedded) and Qt's
// for the same language where the system has it. Returns how many it
// installed; English needs none.
int installTranslations(const QLocale& locale);
// Removes what installTranslations installed.
void removeTranslations();

// What went wrong in the current language; empty for no problem.
QString connectionErrorText(const ConnectionError& error);
// The words of a refused certificate: what failed, with its details.
QString certificateRefusalText(const std::string& at, const TlsRefusal& refusal);

// Context of the shortcut module's texts in the translation files.
inline constexpr const char* kShortcutTextContext = "KeyboardShortcuts";

// A core text in the current language. A text made from a template with
// one argument (a menu item) is matched against the template, so the
// argument carries over; an unknown text stays as it is.
QString translatedCoreText(const char* context, std::string_view english);

}  // namespace lumora::ui
