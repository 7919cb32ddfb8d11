#pragma once
// A small capitalised heading over a section of rows, with a rule under it.

#include <QWidget>

namespace lumora::ui {

class SectionHeaderLabel : public QWidget {
    Q_OBJECT
  public:
    explicit SectionHeaderLabel(const QString& text, QWidget* parent = nullptr);
    QString text() const { return text_; }
    QSize sizeHint() const override { return {190, 20}; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QString text_;
};

}  // namespace lumora::ui
