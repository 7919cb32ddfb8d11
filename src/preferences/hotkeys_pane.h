#pragma once
// The Hotkeys pane: recorders for the four shortcuts that act on every room
// and the one that opens the panel, five slots that each pair a shortcut with
// one action on one room or zone, and the brightness step of the brighter and
// darker shortcuts. Choices are stored the moment they change; the shortcuts
// read them when they fire. Where the desktop holds the keys (its portal) the
// recorders give way to the keys it reports; where nothing can hold them for
// us (Wayland without the portal), to the lumora-ctl command to bind.

#include <QComboBox>
#include <QWidget>
#include <array>
#include <vector>

#include "app/app_settings.h"
#include "app/group_action_options.h"
#include "preferences/recorder_widget.h"

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QPushButton;

namespace lumora {
class PortalShortcuts;
}

namespace lumora::prefs {

// Who holds the global keys, which decides what each row offers.
struct HotkeysHost {
    enum class Kind {
        grabs,     // the program itself (X11): recorders
        portal,    // the desktop, through its portal: the keys it reports
        commands,  // nobody: the command lines to bind in the desktop's settings
    };
    Kind kind = Kind::grabs;
    PortalShortcuts* portal = nullptr;  // with `portal`; outlives the pane
};

// The command line that does what `name` does, "lumora-ctl brighter".
QString hotkeyCommand(const KeyboardShortcuts::Name& name);

// What stands beside a row's label: a recorder, the desktop's key, or the
// command with a copy button.
class HotkeyCell : public QWidget {
    Q_OBJECT
  public:
    HotkeyCell(KeyboardShortcuts& shortcuts, const KeyboardShortcuts::Name& name,
               const HotkeysHost& host, QWidget* parent = nullptr);
    RecorderWidget* recorder() const { return recorder_; }
    // The desktop's key for the name (portal), or the command (commands).
    QLabel* text() const { return text_; }
    QAbstractButton* copyButton() const { return copy_; }

  private:
    void showTrigger();

    const KeyboardShortcuts::Name& name_;
    HotkeysHost host_;
    RecorderWidget* recorder_ = nullptr;
    QLabel* text_ = nullptr;
    QAbstractButton* copy_ = nullptr;
};

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
    explicit HotkeysEverythingView(KeyboardShortcuts& shortcuts, const HotkeysHost& host = {},
                                   QWidget* parent = nullptr);
    // Off, On, Darker, Brighter, Open Panel, in that order; the recorders
    // only where the program holds the keys.
    const std::array<RecorderWidget*, 5>& recorders() const { return recorders_; }
    const std::array<HotkeyCell*, 5>& cells() const { return cells_; }

  private:
    std::array<RecorderWidget*, 5> recorders_{};
    std::array<HotkeyCell*, 5> cells_{};
};

class HotkeysIndividualView : public QWidget {
    Q_OBJECT
  public:
    HotkeysIndividualView(AppSettings& settings, KeyboardShortcuts& shortcuts,
                          const HotkeysHost& host = {}, QWidget* parent = nullptr);
    ~HotkeysIndividualView() override;

    GroupActionPicker* picker(int slot) const { return pickers_.at(slot); }
    RecorderWidget* recorder(int slot) const { return recorders_.at(slot); }
    HotkeyCell* cell(int slot) const { return cells_.at(slot); }
    SegmentedControl* stepSize() const { return stepSize_; }

  private:
    AppSettings& settings_;
    int observer_ = 0;
    std::array<GroupActionPicker*, kGroupHotkeySlots> pickers_{};
    std::array<RecorderWidget*, kGroupHotkeySlots> recorders_{};
    std::array<HotkeyCell*, kGroupHotkeySlots> cells_{};
    SegmentedControl* stepSize_ = nullptr;
};

class HotkeysPane : public QWidget {
    Q_OBJECT
  public:
    // The recorders store into `shortcuts`, which must outlive the pane.
    HotkeysPane(AppSettings& settings, KeyboardShortcuts& shortcuts, const HotkeysHost& host = {},
                QWidget* parent = nullptr);

    HotkeysEverythingView* everything() const { return everything_; }
    HotkeysIndividualView* individual() const { return individual_; }
    // Who holds the keys, above the rows; none where the program does.
    QLabel* hostNote() const { return hostNote_; }
    // Opens the desktop's shortcut settings; shown where its portal can.
    QPushButton* configureButton() const { return configure_; }

  private:
    QLabel* hostNote_ = nullptr;
    QPushButton* configure_ = nullptr;
    HotkeysEverythingView* everything_;
    HotkeysIndividualView* individual_;
};

}  // namespace lumora::prefs
