#include "ui/control_accessibility.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <algorithm>
#include <type_traits>

#include "ui/custom_slider.h"
#include "ui/hue_sat_field.h"
#include "ui/icon_button.h"
#include "ui/on_off_button.h"
#include "ui/panel_tab.h"
#include "ui/scene_button.h"
#include "ui/section_header.h"
#include "ui/temperature_bar.h"

namespace lumora::ui {

namespace {

QString percentText(double percent) {
    return QCoreApplication::translate("lumora::ui::ControlAccessibility", "%1 %")
        .arg(qRound(percent));
}

// The on/off switch: a check box, checked while the light or room is on.
class SwitchAccessible : public QAccessibleWidget {
  public:
    explicit SwitchAccessible(OnOffButton* w) : QAccessibleWidget(w, QAccessible::CheckBox) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isOn();
        return s;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return button()->isOn() ? OnOffButton::tr("ON") : OnOffButton::tr("OFF");
        }
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{pressAction(), toggleAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction() || action == toggleAction()) {
            emit button()->pressed();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

  private:
    OnOffButton* button() const { return static_cast<OnOffButton*>(widget()); }
};

// Scene buttons, image buttons and the tabs: pressed like a button. A tab
// says whether it is the one shown.
template <typename Control>
class PressAccessible : public QAccessibleWidget {
  public:
    PressAccessible(Control* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if constexpr (std::is_same_v<Control, PanelTab>) {
            s.selectable = true;
            s.selected = control()->isSelected();
        }
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            emit control()->clicked();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

  private:
    Control* control() const { return static_cast<Control*>(widget()); }
};

// The brightness slider and the colour-temperature strip, in percent of
// their length. Setting a value goes the way a drag does.
class SliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit SliderAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return percentText(percent());
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == increaseAction() || action == decreaseAction()) {
            step(action == increaseAction() ? 1 : -1);
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    QVariant currentValue() const override { return percent(); }
    void setCurrentValue(const QVariant& value) override {
        const double v = std::clamp(value.toDouble(), 0.0, 100.0) / 100.0;
        if (auto* s = qobject_cast<CustomSlider*>(widget())) {
            s->setValueByUser(v);
        } else if (auto* t = qobject_cast<TemperatureBar*>(widget())) {
            t->choose(v * TemperatureBar::kWidth);
        }
    }
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override {
        if (auto* s = qobject_cast<CustomSlider*>(widget())) return s->keyStep() * 100.0;
        return TemperatureBar::kKeyStep / TemperatureBar::kWidth * 100.0;
    }

  private:
    double percent() const {
        if (auto* s = qobject_cast<CustomSlider*>(widget())) return s->value() * 100.0;
        if (auto* t = qobject_cast<TemperatureBar*>(widget()))
            return t->position() / TemperatureBar::kWidth * 100.0;
        return 0;
    }
    void step(int direction) {
        if (auto* s = qobject_cast<CustomSlider*>(widget())) {
            s->stepBy(direction);
        } else if (auto* t = qobject_cast<TemperatureBar*>(widget())) {
            t->choose(t->position() + direction * TemperatureBar::kKeyStep);
        }
    }
};

// The hue and saturation field: a colour chooser that reads out its point.
class ColourAccessible : public QAccessibleWidget {
  public:
    explicit ColourAccessible(HueSatField* w) : QAccessibleWidget(w, QAccessible::ColorChooser) {}
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Value) return QAccessibleWidget::text(t);
        const auto* f = static_cast<HueSatField*>(widget());
        const QPointF p = f->point();
        return QCoreApplication::translate("lumora::ui::ControlAccessibility",
                                           "hue %1°, saturation %2 %")
            .arg(qRound(HueSatField::hueAt(p.x()) * 360.0 / 65536.0))
            .arg(qRound(HueSatField::saturationAt(p.y()) * 100.0 / 254.0));
    }
};

class HeadingAccessible : public QAccessibleWidget {
  public:
    explicit HeadingAccessible(SectionHeaderLabel* w)
        : QAccessibleWidget(w, QAccessible::Heading) {}
    QString text(QAccessible::Text t) const override {
        const QString own = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && own.isEmpty())
            return static_cast<SectionHeaderLabel*>(widget())->text();
        return own;
    }
};

QAccessibleInterface* factory(const QString& key, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w) return nullptr;
    // Qt asks for each class up the chain; only the exact ones answer.
    if (key == QLatin1String(OnOffButton::staticMetaObject.className()))
        return new SwitchAccessible(static_cast<OnOffButton*>(w));
    if (key == QLatin1String(CustomSlider::staticMetaObject.className()) ||
        key == QLatin1String(TemperatureBar::staticMetaObject.className()))
        return new SliderAccessible(w);
    if (key == QLatin1String(HueSatField::staticMetaObject.className()))
        return new ColourAccessible(static_cast<HueSatField*>(w));
    if (key == QLatin1String(SceneButton::staticMetaObject.className()))
        return new PressAccessible<SceneButton>(static_cast<SceneButton*>(w), QAccessible::Button);
    if (key == QLatin1String(IconButton::staticMetaObject.className()))
        return new PressAccessible<IconButton>(static_cast<IconButton*>(w), QAccessible::Button);
    if (key == QLatin1String(PanelTab::staticMetaObject.className()))
        return new PressAccessible<PanelTab>(static_cast<PanelTab*>(w), QAccessible::PageTab);
    if (key == QLatin1String(SectionHeaderLabel::staticMetaObject.className()))
        return new HeadingAccessible(static_cast<SectionHeaderLabel*>(w));
    return nullptr;
}

}  // namespace

void installControlAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void notifyValueChanged(QWidget* control, double percent) {
    QAccessibleValueChangeEvent event(control, percent);
    QAccessible::updateAccessibility(&event);
}

void notifyStateChanged(QWidget* control, bool checkedChanged, bool selectedChanged) {
    QAccessible::State changed;
    changed.checked = checkedChanged;
    changed.selected = selectedChanged;
    QAccessibleStateChangeEvent event(control, changed);
    QAccessible::updateAccessibility(&event);
}

}  // namespace lumora::ui
