#pragma once
// The first-start window's content: a greeting, the animation and a button
// that opens the panel.

#include <QWidget>
#include <functional>

namespace lumora {

class ImagePlayer;

class WelcomeView : public QWidget {
    Q_OBJECT
  public:
    // `doneHere` closes the window, opens the panel and remembers that the
    // welcome was seen.
    explicit WelcomeView(std::function<void()> doneHere, QWidget* parent = nullptr);
    ImagePlayer* player() const { return player_; }
    void doneHere() { doneHere_(); }

  private:
    std::function<void()> doneHere_;
    ImagePlayer* player_;
};

}  // namespace lumora
