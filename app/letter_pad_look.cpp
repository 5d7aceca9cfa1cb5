#include "letter_pad_look.h"

#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <algorithm>
#include <cmath>

namespace meridoc {

namespace {

double luminance(const QColor &c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// Draws the cells as usual, then a frame two pixels wide in the pad's text colour around the
// current cell while the pad has the focus.
class FramedFocus : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem plain = option;
        const bool focused = option.state & QStyle::State_HasFocus;
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
        if (!focused)
            return;
        painter->save();
        painter->setPen(QPen(option.palette.color(QPalette::Text), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
        painter->restore();
    }
};

} // namespace

double contrastRatio(const QColor &a, const QColor &b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void styleLetterPad(QTableWidget *pad) {
    const QWidget *window = pad->window();
    const QPalette &source = window->palette();
    QColor background(Qt::lightGray); // silver
    QColor text = source.color(QPalette::WindowText);
    if (contrastRatio(background, text) < 4.5) {
        background = source.color(QPalette::Button);
        text = source.color(QPalette::ButtonText);
    }
    QPalette palette = source;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Text, text);
    }
    pad->setPalette(palette);
    pad->setFont(window->font());
    if (!dynamic_cast<FramedFocus *>(pad->itemDelegate()))
        pad->setItemDelegate(new FramedFocus(pad));
}

} // namespace meridoc
