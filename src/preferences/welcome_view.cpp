#include "preferences/welcome_view.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "preferences/image_player.h"

namespace lumora {

WelcomeView::WelcomeView(std::function<void()> doneHere, QWidget* parent)
    : QWidget(parent), doneHere_(std::move(doneHere)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 20, 0, 20);
    layout->setSpacing(0);

    auto* title = new QLabel(tr("Rodada!"));
    QFont f = title->font();
    f.setPixelSize(22);
    f.setBold(true);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    auto* text =
        new QLabel(tr("This app is very minimal. It only exists in the menu bar at the "
                      "top. Click the icon to start."));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setContentsMargins(15, 15, 15, 15);
    layout->addWidget(text);

    player_ = new ImagePlayer;
    layout->addWidget(player_, 0, Qt::AlignHCenter);

    layout->addSpacing(15);
    auto* go = new QPushButton(tr("Let's go!"));
    go->setDefault(true);
    connect(go, &QPushButton::clicked, this, [this] { doneHere_(); });
    layout->addWidget(go, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

}  // namespace lumora
