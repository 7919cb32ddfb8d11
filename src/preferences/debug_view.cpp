#include "preferences/debug_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/divider.h"

namespace lumora {

DebugView::DebugView(AppSettings& settings, std::function<void()> sendDebugData,
                     std::function<void()> close, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);

    auto* heading = new QLabel(tr("Debug Information"));
    QFont hf = heading->font();
    hf.setBold(true);
    heading->setFont(hf);
    layout->addWidget(heading);
    layout->addWidget(ui::divider());

    log_ = new QPlainTextEdit;
    log_->setReadOnly(true);
    log_->setFrameShape(QFrame::NoFrame);
    log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont lf = log_->font();
    lf.setPixelSize(10);
    lf.setWeight(QFont::Light);
    log_->setFont(lf);
    QPalette pal = log_->palette();
    pal.setColor(QPalette::Text, QColor(128, 128, 128));
    pal.setColor(QPalette::Base, Qt::transparent);
    log_->setPalette(pal);
    log_->setAccessibleName(tr("Diagnostic log"));
    // 15 points of room on the trailing side.
    auto* logRow = new QHBoxLayout;
    logRow->setContentsMargins(0, 0, 15, 0);
    logRow->addWidget(log_);
    layout->addLayout(logRow, 1);
    layout->addWidget(ui::divider());

    auto* buttons = new QHBoxLayout;
    send_ = new QPushButton(tr("Send Debug Data"));
    auto* closeButton = new QPushButton(tr("Close"));
    connect(send_, &QPushButton::clicked, this, [sendDebugData] {
        if (sendDebugData) sendDebugData();
    });
    connect(closeButton, &QPushButton::clicked, this, [close] {
        if (close) close();
    });
    buttons->addWidget(send_);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    observer_ = settings_.addObserver([this](AppSettings::Field f) {
        if (f != AppSettings::Field::log || refreshQueued_) return;
        // One redraw for a burst of lines.
        refreshQueued_ = true;
        QTimer::singleShot(0, this, [this] { refresh(); });
    });
    refresh();
}

DebugView::~DebugView() {
    settings_.removeObserver(observer_);
}

QString DebugView::logText() const {
    return log_->toPlainText();
}

void DebugView::refresh() {
    refreshQueued_ = false;
    QStringList lines;
    for (const auto& l : settings_.log()) lines << QString::fromStdString(l);
    const bool atEnd = log_->verticalScrollBar()->value() == log_->verticalScrollBar()->maximum();
    log_->setPlainText(lines.join(QLatin1Char('\n')));
    if (atEnd) log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

}  // namespace lumora
