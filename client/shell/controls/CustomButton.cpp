#include "CustomButton.h"

#include "Fonts.h"
#include "SquareOutline.h"

#include <QPainter>

CustomButton::CustomButton(QWidget *parent)
    : CustomButton(QString(), parent) {}

CustomButton::CustomButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent) {
    setFont(customFont(QStringLiteral("Raleway-Medium"), 12));
}

void CustomButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QRectF frame(rect());
    const bool pressed = isDown();

    // Face, then the light outer outline and the faint inner one.
    painter.save();
    painter.fillRect(frame.adjusted(2, 2, -2, -2), Qt::white);
    painter.restore();

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    strokeSquareOutline(painter, frame.adjusted(1.5, 1.5, -1.5, -1.5),
                        QColor::fromRgbF(0.8f, 0.8f, 0.8f));
    strokeSquareOutline(painter, frame.adjusted(2.5, 2.5, -2.5, -2.5),
                        QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.05f));
    painter.restore();

    if (pressed) {
        painter.save();
        painter.fillRect(frame.adjusted(2, 2, -2, -2), Qt::black);
        painter.restore();
    }

    // Keyboard users see which button Enter or Space would press.
    if (hasFocus()) {
        painter.save();
        painter.setPen(
            QPen(pressed ? Qt::white : QColor::fromRgbF(0.6f, 0.6f, 0.6f), 1.0, Qt::DotLine));
        painter.drawRect(QRectF(rect()).adjusted(4.5, 4.5, -4.5, -4.5));
        painter.restore();
    }

    painter.setFont(customFont(QStringLiteral("Raleway-Medium"), 12));
    painter.setPen(pressed ? Qt::white : Qt::black);
    painter.drawText(frame.adjusted(4, 2, -4, -2), Qt::AlignCenter | Qt::TextWordWrap, text());
}
