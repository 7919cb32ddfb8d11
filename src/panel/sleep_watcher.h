#pragma once
// Sleep and wake from the login manager's PrepareForSleep signal on the
// system bus.

#include <QObject>
#include <functional>

namespace lumora::panel {

class SleepWatcher : public QObject {
    Q_OBJECT
  public:
    SleepWatcher(std::function<void()> willSleep, std::function<void()> didWake,
                 QObject* parent = nullptr);
    // False when there is no system bus or the subscription failed.
    bool isWatching() const { return watching_; }

  private slots:
    void prepareForSleep(bool start);

  private:
    std::function<void()> willSleep_;
    std::function<void()> didWake_;
    bool watching_ = false;
};

}  // namespace lumora::panel
