#pragma once
// The Lights pane: which lights the panel shows, and in what order. The list
// is a copy of the lights taken when the pane is made; rows are dragged to
// reorder them and each row's switch hides or shows its light.

#include <QListWidget>
#include <QStyledItemDelegate>
#include <QWidget>
#include <string>
#include <vector>

#include "app/app_settings.h"

namespace lumora::prefs {

// One line of the list: a light by name with an on/off switch, on while the
// light is shown. The switch is kept under "hide_light_" + the light's unique
// id, so that two lights of one name do not share it.
class LampPreferenceToggle : public QListWidgetItem {
  public:
    LampPreferenceToggle(DefaultsStore& store, std::string uniqueId, std::string lampId,
                         const QString& name);
    const std::string& uniqueId() const { return uniqueId_; }
    const std::string& lampId() const { return lampId_; }
    // What the switch shows (stored by the list on every change).
    bool lightHidden() const { return checkState() != Qt::Checked; }
    void setLightHidden(bool hidden) { setCheckState(hidden ? Qt::Unchecked : Qt::Checked); }

    // Data roles that travel with a row through a drag.
    static constexpr int kUniqueIdRole = Qt::UserRole;
    static constexpr int kLampIdRole = Qt::UserRole + 1;

  private:
    std::string uniqueId_;
    std::string lampId_;
};

std::string hideLightKey(const std::string& uniqueId);

// Paints a row as the name with a switch at its end; a click on the switch
// (or Space on the row) flips it, a press elsewhere starts a drag.
class LampRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    static QRect switchRect(const QRect& row);

  protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

class LampSelectorView : public QWidget {
    Q_OBJECT
  public:
    explicit LampSelectorView(AppSettings& settings, QWidget* parent = nullptr);
    // The pane's copy, in the order shown.
    const std::vector<HueLight>& lights() const { return lights_; }
    QListWidget* list() const { return list_; }
    LampPreferenceToggle* toggle(int row) const;

  private:
    void storeSwitch(QListWidgetItem* item);
    // After a drop: the copy takes the list's order and the order is stored.
    void takeOrderFromList();

    AppSettings& settings_;
    std::vector<HueLight> lights_;
    QListWidget* list_;
};

class LightsPane : public QWidget {
    Q_OBJECT
  public:
    explicit LightsPane(AppSettings& settings, QWidget* parent = nullptr);
    LampSelectorView* selector() const { return selector_; }

  private:
    LampSelectorView* selector_;
};

}  // namespace lumora::prefs
