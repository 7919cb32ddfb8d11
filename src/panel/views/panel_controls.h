#pragma once
// The painted controls' old home, for the files that still include it; the
// controls themselves are in ui/, one to a file.

#include "ui/custom_slider.h"
#include "ui/hue_sat_field.h"
#include "ui/icon_button.h"
#include "ui/on_off_button.h"
#include "ui/panel_tab.h"
#include "ui/scene_button.h"
#include "ui/section_header.h"
#include "ui/temperature_bar.h"
#include "ui/theme.h"

namespace lumora::panel {

using ui::ColorInfo;
using ui::CustomSlider;
using ui::grey;
using ui::HueSatField;
using ui::IconButton;
using ui::ink;
using ui::isDarkScheme;
using ui::OnOffButton;
using ui::panelFont;
using ui::PanelTab;
using ui::SceneButton;
using ui::SectionHeaderLabel;
using ui::TemperatureBar;

}  // namespace lumora::panel
