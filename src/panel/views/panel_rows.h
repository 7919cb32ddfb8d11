#pragma once
// The rows of the panel's lists: a light or a room with its switch,
// brightness and colour controls, and a column of scene buttons. Rows show
// the records of AppSettings and write the user's changes there first, then
// queue the bridge command.

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <functional>
#include <vector>

#include "app/app_settings.h"
#include "bridge/commands.h"
#include "ui/custom_slider.h"
#include "ui/hue_sat_field.h"
#include "ui/icon_button.h"
#include "ui/on_off_button.h"
#include "ui/scene_button.h"
#include "ui/temperature_bar.h"

class QHBoxLayout;
class QVBoxLayout;

namespace lumora::panel {

using ui::CustomSlider;
using ui::HueSatField;
using ui::IconButton;
using ui::OnOffButton;
using ui::SceneButton;
using ui::TemperatureBar;

// True when none of the known lights among `groupLights` has colour.
bool isGroupAmbientOnly(const AppSettings& settings, const std::vector<std::string>& groupLights);

// A row's name line: regular 10 points, elided when long.
class RowTitle : public QLabel {
    Q_OBJECT
  public:
    explicit RowTitle(QWidget* parent = nullptr);
    void setName(const QString& name);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QString name_;
};

// What a light's and a room's rows have in common: the name, the switch,
// the brightness slider and one of the colour controls.
class ControlRow : public QWidget {
    Q_OBJECT
  public:
    // The light's or room's name, as a screen reader gives the row.
    virtual QString name() const = 0;

    OnOffButton* onOff() const { return onOff_; }
    CustomSlider* slider() const { return slider_; }
    TemperatureBar* temperatureBar() const { return temperature_; }
    HueSatField* hueField() const { return hueField_; }

  protected:
    // The values a row shows, read from a light's or a room's record.
    struct Values {
        QString name;
        bool on = false;
        std::int64_t brightness = 0;
        std::int64_t temperature = 0;
        std::int64_t ctMin = 0;
        std::int64_t ctMax = 0;
        std::int64_t hue = 0;
        std::int64_t saturation = 0;
    };
    template <typename Record>
    static Values valuesOf(const Record& r) {
        return {QString::fromStdString(r.name),
                r.is_on,
                r.brightness,
                r.color_temperature,
                r.ct_min,
                r.ct_max,
                r.hue,
                r.saturation};
    }

    ControlRow(AppSettings& settings, QWidget* parent);
    // Each control reports the user's choice in the record's terms.
    void addSlider(std::function<void(std::int64_t brightness)> moved);
    void addTemperatureBar(std::function<void(double x)> chosen);
    void addHueField(std::function<void(std::int64_t hue, std::int64_t saturation)> picked);
    void show(const Values& v);

    AppSettings& settings_;
    QVBoxLayout* layout_;
    QHBoxLayout* controls_;

  private:
    RowTitle* title_;
    OnOffButton* onOff_;
    CustomSlider* slider_ = nullptr;
    TemperatureBar* temperature_ = nullptr;
    HueSatField* hueField_ = nullptr;
};

class GroupRow : public ControlRow {
    Q_OBJECT
  public:
    GroupRow(AppSettings& settings, CommandQueue& commands, const HueGroup& group,
             QWidget* parent = nullptr);
    // Takes the record's current values; repaints only what changed.
    void setGroup(const HueGroup& group);
    const HueGroup& group() const { return group_; }
    QString name() const override { return QString::fromStdString(group_.name); }

    IconButton* sceneButton() const { return sceneButton_; }
    QWidget* scenePopover() const { return popover_; }

  private:
    // The live record's index, or -1 when it has gone.
    int recordIndex() const;
    void change(const std::function<void(HueGroup&)>& edit,
                const std::function<void(const HueGroup&)>& command);
    void openScenes();

    CommandQueue& commands_;
    HueGroup group_;
    IconButton* sceneButton_ = nullptr;
    QPointer<QFrame> popover_;
};

class LightRow : public ControlRow {
    Q_OBJECT
  public:
    LightRow(AppSettings& settings, CommandQueue& commands, const HueLight& light,
             QWidget* parent = nullptr);
    void setLight(const HueLight& light);
    const HueLight& light() const { return light_; }
    QString name() const override { return QString::fromStdString(light_.name); }

  private:
    int recordIndex() const;
    void change(const std::function<void(HueLight&)>& edit,
                const std::function<void(const HueLight&)>& command);

    CommandQueue& commands_;
    HueLight light_;
};

// A column of scene buttons; every scene, or those of one group.
class SceneColumn : public QWidget {
    Q_OBJECT
  public:
    SceneColumn(CommandQueue& commands, const std::vector<HueScene>& scenes,
                QWidget* parent = nullptr);
    std::vector<SceneButton*> buttons() const { return buttons_; }

  private:
    std::vector<SceneButton*> buttons_;
};

// Lays out `w` as a column with equal margins and no spacing.
QVBoxLayout* column(QWidget* w, int margin);

}  // namespace lumora::panel
