#pragma once
// One of the LIGHTS/ROOMS tabs.

#include "ui/panel_control.h"

namespace lumora::ui {

class PanelTab : public PressControl {
    Q_OBJECT
  public:
    PanelTab(const QString& label, QWidget* parent = nullptr);
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }
    QSize sizeHint() const override { return {90, 20}; }

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent*) override;
    void activate() override { emit clicked(); }

  private:
    QString label_;
    bool selected_ = false;
};

}  // namespace lumora::ui
