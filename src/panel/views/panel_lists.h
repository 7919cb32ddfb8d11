#pragma once
// The panel's lists: rooms and zones, lights, scenes. Rows show the records
// of AppSettings and write the user's changes there first, then queue the
// bridge command.

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <vector>

#include "app/app_settings.h"
#include "bridge/commands.h"
#include "panel/views/panel_controls.h"

class QVBoxLayout;

namespace lumora::panel {

// True when none of the known lights among `groupLights` has colour.
bool isGroupAmbientOnly(const AppSettings& settings, const std::vector<std::string>& groupLights);
bool isLightHidden(const AppSettings& settings, const HueLight& light);

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

class GroupRow : public QWidget {
    Q_OBJECT
  public:
    GroupRow(AppSettings& settings, CommandQueue& commands, const HueGroup& group,
             QWidget* parent = nullptr);
    // Takes the record's current values; repaints only what changed.
    void setGroup(const HueGroup& group);
    const HueGroup& group() const { return group_; }

    OnOffButton* onOff() const { return onOff_; }
    CustomSlider* slider() const { return slider_; }
    IconButton* sceneButton() const { return sceneButton_; }
    TemperatureBar* temperatureBar() const { return temperature_; }
    HueSatField* hueField() const { return hueField_; }
    QWidget* scenePopover() const { return popover_; }

  private:
    // The live record's index, or -1 when it has gone.
    int recordIndex() const;
    void change(const std::function<void(HueGroup&)>& edit,
                const std::function<void(const HueGroup&)>& command);
    void openScenes();

    AppSettings& settings_;
    CommandQueue& commands_;
    HueGroup group_;
    RowTitle* title_;
    OnOffButton* onOff_;
    CustomSlider* slider_;
    IconButton* sceneButton_ = nullptr;
    TemperatureBar* temperature_ = nullptr;
    HueSatField* hueField_ = nullptr;
    QPointer<QFrame> popover_;
};

class LightRow : public QWidget {
    Q_OBJECT
  public:
    LightRow(AppSettings& settings, CommandQueue& commands, const HueLight& light,
             QWidget* parent = nullptr);
    void setLight(const HueLight& light);
    const HueLight& light() const { return light_; }

    OnOffButton* onOff() const { return onOff_; }
    CustomSlider* slider() const { return slider_; }
    TemperatureBar* temperatureBar() const { return temperature_; }
    HueSatField* hueField() const { return hueField_; }

  private:
    int recordIndex() const;
    void change(const std::function<void(HueLight&)>& edit,
                const std::function<void(const HueLight&)>& command);

    AppSettings& settings_;
    CommandQueue& commands_;
    HueLight light_;
    RowTitle* title_;
    OnOffButton* onOff_;
    CustomSlider* slider_ = nullptr;
    TemperatureBar* temperature_ = nullptr;
    HueSatField* hueField_ = nullptr;
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

// A scrolling list that follows AppSettings: it rebuilds its rows only when
// what rows there are changes, and otherwise updates them in place.
class PanelList : public QScrollArea {
    Q_OBJECT
  public:
    PanelList(AppSettings& settings, CommandQueue& commands, QWidget* parent = nullptr);
    ~PanelList() override;
    int rebuilds() const { return rebuilds_; }
    // Brings the rows up to date now (normally on the next turn).
    void sync();

  protected:
    void showEvent(QShowEvent* e) override;
    virtual std::string shapeKey() const = 0;
    virtual void build(QVBoxLayout* layout) = 0;
    virtual void updateRows() = 0;
    AppSettings& settings_;
    CommandQueue& commands_;

  private:
    int observer_ = 0;
    bool queued_ = false;
    std::string shape_;
    int rebuilds_ = 0;
    QWidget* body_ = nullptr;
};

class ListGroups : public PanelList {
    Q_OBJECT
  public:
    ListGroups(AppSettings& settings, CommandQueue& commands, QWidget* parent = nullptr);
    std::vector<GroupRow*> rows() const { return rows_; }
    QStringList headers() const;

  protected:
    std::string shapeKey() const override;
    void build(QVBoxLayout* layout) override;
    void updateRows() override;

  private:
    std::vector<GroupRow*> rows_;
    std::vector<SectionHeaderLabel*> headers_;
};

class ListLights : public PanelList {
    Q_OBJECT
  public:
    ListLights(AppSettings& settings, CommandQueue& commands, QWidget* parent = nullptr);
    std::vector<LightRow*> rows() const { return rows_; }

  protected:
    std::string shapeKey() const override;
    void build(QVBoxLayout* layout) override;
    void updateRows() override;

  private:
    std::vector<LightRow*> rows_;
};

class ListScenes : public PanelList {
    Q_OBJECT
  public:
    ListScenes(AppSettings& settings, CommandQueue& commands, QWidget* parent = nullptr);
    std::vector<SceneButton*> buttons() const;

  protected:
    std::string shapeKey() const override;
    void build(QVBoxLayout* layout) override;
    void updateRows() override {}

  private:
    SceneColumn* column_ = nullptr;
};

}  // namespace lumora::panel
