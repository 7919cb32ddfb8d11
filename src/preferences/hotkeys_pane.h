#pragma once
// The Hotkeys pane: recorders for the four shortcuts that act on every room
// and the one that opens the panel, five slots that each pair a shortcut with
// one action on one room or zone, and the brightness step of the brighter and
// darker shortcuts. Choices are stored the moment they change; the shortcuts
// read them when they fire.

#include <QComboBox>
#include <QWidget>
#include <array>
#include <vector>

#include "app/app_settings.h"
#include "app/group_action_options.h"
#include "preferences/recorder_widget.h"

class QAbstractButton;
class QButtonGroup;

namespace lumora::prefs {

// The drop-down of one slot: "(No Action)" and the four actions of every
// room and zone known when it is made.
class GroupActionPicker : public QComboBox {
    Q_OBJECT
  public:
    GroupActionPicker(const std::vector<HueGroup>& groups, DefaultsStore& store, int dropdownIndex,
                      QWidget* parent = nullptr);

    int dropdownIndex() const { return dropdownIndex_; }
    const std::vector<GroupActionOption>& availableGroupActions() const { return options_; }
    const std::string& selectedAction() const { return selectedAction_; }

  private:
    DefaultsStore& store_;
    int dropdownIndex_;
    std::vector<GroupActionOption> options_;
    std::string selectedAction_;
};

// A row of exclusive buttons, each standing for a value.
class SegmentedControl : public QWidget {
    Q_OBJECT
  public:
    SegmentedControl(const std::vector<std::pair<QString, int>>& segments,
                     QWidget* parent = nullptr);
    // Checks the segment of the value; none when no segment has it.
    void setValue(int value);
    std::optional<int> value() const;
    QAbstractButton* segment(int index) const;
    int count() const { return static_cast<int>(values_.size()); }

  signals:
    void valueChosen(int value);

  private:
    QButtonGroup* group_;
    std::vector<int> values_;
};

class HotkeysEverythingView : public QWidget {
    Q_OBJECT
  public:
    explicit HotkeysEverythingView(KeyboardShortcuts& shortcuts, QWidget* parent = nullptr);
    // Off, On, Darker, Brighter, Open Panel, in that order.
    const std::array<RecorderWidget*, 5>& recorders() const { return recorders_; }

  private:
    std::array<RecorderWidget*, 5> recorders_{};
};

class HotkeysIndividualView : public QWidget {
    Q_OBJECT
  public:
    HotkeysIndividualView(AppSettings& settings, KeyboardShortcuts& shortcuts,
                          QWidget* parent = nullptr);
    ~HotkeysIndividualView() override;

    GroupActionPicker* picker(int slot) const { return pickers_.at(slot); }
    RecorderWidget* recorder(int slot) const { return recorders_.at(slot); }
    SegmentedControl* stepSize() const { return stepSize_; }

  private:
    AppSettings& settings_;
    int observer_ = 0;
    std::array<GroupActionPicker*, kGroupHotkeySlots> pickers_{};
    std::array<RecorderWidget*, kGroupHotkeySlots> recorders_{};
    SegmentedControl* stepSize_ = nullptr;
};

class HotkeysPane : public QWidget {
    Q_OBJECT
  public:
    // The recorders store into `shortcuts`, which must outlive the pane.
    HotkeysPane(AppSettings& settings, KeyboardShortcuts& shortcuts, QWidget* parent = nullptr);

    HotkeysEverythingView* everything() const { return everything_; }
    HotkeysIndividualView* individual() const { return individual_; }

  private:
    HotkeysEverythingView* everything_;
    HotkeysIndividualView* individual_;
};

}  // namespace lumora::prefs
