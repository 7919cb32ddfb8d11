#pragma once
// The tree Qt hands a screen reader, walked from a widget: what is shown,
// what of it a user can operate, and which of those have no name to be
// announced by.

#include <QAccessible>
#include <QMetaEnum>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace lumora::testing {

struct AccessibleElement {
    QAccessibleInterface* iface = nullptr;
    QString path;  // roles and names from the root, for messages
};

inline QString roleName(QAccessible::Role role) {
    const char* key = QMetaEnum::fromType<QAccessible::Role>().valueToKey(role);
    return key ? QString::fromLatin1(key) : QString::number(role);
}

// Something a user presses, types into, moves or picks: by its role, or
// because it takes the keyboard focus.
inline bool isInteractive(QAccessibleInterface* i) {
    switch (i->role()) {
        case QAccessible::Button:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::ComboBox:
        case QAccessible::Slider:
        case QAccessible::SpinBox:
        case QAccessible::Dial:
        case QAccessible::EditableText:
        case QAccessible::PageTab:
        case QAccessible::ColorChooser:
        case QAccessible::Link:
        case QAccessible::ButtonMenu:
        case QAccessible::ButtonDropDown:
        case QAccessible::ListItem:
        case QAccessible::TreeItem:
        case QAccessible::MenuItem:
        case QAccessible::HotkeyField:
            return true;
        default:
            return i->state().focusable;
    }
}

namespace detail {
inline void walk(QAccessibleInterface* i, const QString& path, int depth,
                 std::vector<AccessibleElement>& out) {
    if (!i || !i->isValid() || i->state().invisible || depth > 60) return;
    const QString here = path + QStringLiteral("/") + roleName(i->role()) + QStringLiteral("[") +
                         i->text(QAccessible::Name) + QStringLiteral("]");
    out.push_back({i, here});
    for (int k = 0; k < i->childCount(); ++k) walk(i->child(k), here, depth + 1, out);
}
}  // namespace detail

// Every element shown under `root`, the root first, depth first.
inline std::vector<AccessibleElement> shownElements(QWidget* root) {
    std::vector<AccessibleElement> out;
    detail::walk(QAccessible::queryAccessibleInterface(root), QString(), 0, out);
    return out;
}

// The path of every shown control without a name, one a line; empty when
// every control has one.
inline std::string unnamedControls(QWidget* root) {
    QStringList out;
    for (const auto& e : shownElements(root)) {
        if (isInteractive(e.iface) && e.iface->text(QAccessible::Name).trimmed().isEmpty())
            out << e.path;
    }
    return out.join(QLatin1Char('\n')).toStdString();
}

// The first shown element with this name (and one of these roles, when
// given), or null.
inline QAccessibleInterface* findByName(QWidget* root, const QString& name,
                                        std::initializer_list<QAccessible::Role> roles = {}) {
    for (const auto& e : shownElements(root)) {
        if (e.iface->text(QAccessible::Name) != name) continue;
        if (roles.size() == 0 ||
            std::find(roles.begin(), roles.end(), e.iface->role()) != roles.end())
            return e.iface;
    }
    return nullptr;
}

}  // namespace lumora::testing
