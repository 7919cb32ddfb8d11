#pragma once
// The debug window's content: the in-memory log, live, with buttons to send
// a report and to close.

#include <QWidget>
#include <functional>

#include "app/app_settings.h"

class QPlainTextEdit;
class QPushButton;

namespace lumora {

class DebugView : public QWidget {
    Q_OBJECT
  public:
    DebugView(AppSettings& settings, std::function<void()> sendDebugData,
              std::function<void()> close, QWidget* parent = nullptr);
    ~DebugView() override;
    QString logText() const;
    QPushButton* sendButton() const { return send_; }

  private:
    void refresh();
    AppSettings& settings_;
    int observer_ = 0;
    bool refreshQueued_ = false;
    QPlainTextEdit* log_;
    QPushButton* send_;
};

}  // namespace lumora
