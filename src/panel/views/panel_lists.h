#pragma once
// The panel's lists: rooms and zones, lights, scenes. Each follows
// AppSettings and keeps its rows (panel_rows.h) up to date.

#include <QScrollArea>
#include <vector>

#include "app/app_settings.h"
#include "bridge/commands.h"
#include "panel/views/panel_rows.h"
#include "ui/section_header.h"

class QVBoxLayout;

namespace lumora::panel {

using ui::SectionHeaderLabel;

bool isLightHidden(const AppSettings& settings, const HueLight& light);

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
