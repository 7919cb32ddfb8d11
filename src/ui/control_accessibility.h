#pragma once
// What a screen reader learns about the hand-painted controls: a role, a
// state and, for the sliders, a value. Qt asks a factory for these; the
// controls install it when the first of them is made and report their
// changes through the notify functions.

class QWidget;

namespace lumora::ui {

// Installs the factory once; later calls do nothing.
void installControlAccessibility();

// A control's value or its checked or selected state changed.
void notifyValueChanged(QWidget* control, double percent);
void notifyStateChanged(QWidget* control, bool checkedChanged, bool selectedChanged);

}  // namespace lumora::ui
