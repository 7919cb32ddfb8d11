#include "ui/divider.h"

#include <QFrame>

namespace lumora::ui {

QFrame* divider(int alpha) {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: rgba(128,128,128,%1);").arg(alpha));
    return line;
}

}  // namespace lumora::ui
