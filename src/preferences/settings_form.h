#pragma once
// The settings window's page layout: rows of a right-aligned label and its
// control, divider rows and heading rows, at a fixed width; and the two small
// controls the pages share, an on/off switch and a row of image segments.

#include <QAbstractButton>
#include <QIcon>
#include <QWidget>
#include <functional>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QLabel;
class QLayout;
class QLayoutItem;
class QToolButton;

namespace lumora::prefs {

class SettingsForm : public QWidget {
    Q_OBJECT
  public:
    explicit SettingsForm(int width = 450, QWidget* parent = nullptr);
    // A row; an empty label leaves the label column blank. Returns the label.
    QLabel* addRow(const QString& label, QWidget* content);
    QLabel* addRow(const QString& label, QLayout* content);
    void addDivider();
    QLabel* addHeading(const QString& text);
    // The label of the row that holds `content`, or null.
    QLabel* labelFor(const QWidget* content) const;

  private:
    QLabel* place(const QString& label, QLayoutItem* content, Qt::Alignment labelAlign);
    QGridLayout* grid_;
    std::vector<std::pair<const QWidget*, QLabel*>> labels_;
};

// A thin rule in the scheme's mid tone; the sunken frame line is too bright on dark.
class Divider : public QWidget {
    Q_OBJECT
  public:
    explicit Divider(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1, 1}; }

  protected:
    void paintEvent(QPaintEvent*) override;
};

// An on/off switch painted in the desktop palette; checkable, no text of its
// own (its row's label names it for accessibility).
class SettingsSwitch : public QAbstractButton {
    Q_OBJECT
  public:
    explicit SettingsSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {36, 20}; }

  protected:
    void paintEvent(QPaintEvent*) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// A segmented choice of images, one checked at a time.
class ImageSegments : public QWidget {
    Q_OBJECT
  public:
    // `names` identify the segments; `iconFor` gives each one's image.
    ImageSegments(const std::vector<QString>& names, int width, QSize iconSize,
                  std::function<QIcon(const QString&)> iconFor, QWidget* parent = nullptr);
    void setCurrent(const QString& name);
    QString current() const;
    QToolButton* segment(const QString& name) const;

  signals:
    // A segment was chosen by the user.
    void chosen(const QString& name);

  protected:
    void changeEvent(QEvent* e) override;

  private:
    void restyle();
    std::vector<QString> names_;
    std::vector<QToolButton*> buttons_;
    QButtonGroup* group_;
};

}  // namespace lumora::prefs
