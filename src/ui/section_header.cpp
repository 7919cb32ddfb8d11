#include "ui/section_header.h"

#include <QPainter>

#include "ui/control_accessibility.h"
#include "ui/theme.h"

namespace lumora::ui {

SectionHeaderLabel::SectionHeaderLabel(const QString& text, QWidget* parent)
    : QWidget(parent), text_(text) {
    installControlAccessibility();
    setFixedHeight(20);
    setAccessibleName(text);
}

void SectionHeaderLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool dark = isDarkScheme(this);
    p.setFont(panelFont(8));
    p.setPen(ink(dark, 0.4));
    p.drawText(QRect(5, 0, width() - 10, height() - 6), Qt::AlignLeft | Qt::AlignBottom, text_);
    p.fillRect(QRectF(5, height() - 1, width() - 10, 1), ink(dark, 0.1));
}

}  // namespace lumora::ui
