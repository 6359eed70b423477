#include "CustomProgressBar.h"

#include "Fonts.h"
#include "SquareOutline.h"

#include <QFontMetricsF>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>

#include <cmath>

namespace {

// All bars draw their texts one at a time.
QMutex &textDrawingLock() {
    static QMutex lock;
    return lock;
}

// Draws `text` with the lower-left corner of its line at (x, y) measured
// from the widget's lower-left corner.
void drawTextFromBottomLeft(QPainter &painter, const QFont &font, qreal x, qreal y,
                            qreal widgetHeight, const QString &text) {
    painter.setFont(font);
    const qreal baseline = widgetHeight - y - QFontMetricsF(font).descent();
    painter.drawText(QPointF(x, baseline), text);
}

} // namespace

CustomProgressBar::CustomProgressBar(QWidget *parent)
    : QWidget(parent) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Progress"));
}

void CustomProgressBar::setProgress(float progress) {
    if (std::isnan(progress) || progress < 0.0f)
        progress = 0.0f;
    else if (progress > 1.0f)
        progress = 1.0f;
    m_progress = progress;
    update();
}

void CustomProgressBar::setSongName(const QString &name) {
    m_songName = name;
    update();
}

void CustomProgressBar::setSongArtist(const QString &artist) {
    m_songArtist = artist;
    update();
}

void CustomProgressBar::setPercentage(const QString &percentage) {
    m_percentage = percentage;
    setAccessibleDescription(percentage);
    update();
}

void CustomProgressBar::setEmptyColor(const QColor &color) {
    m_emptyColor = color;
    update();
}

QString CustomProgressBar::validateString(const QString &text, int withCharLimit) {
    return text.size() <= withCharLimit ? text : shortenString(text, withCharLimit);
}

QString CustomProgressBar::shortenString(const QString &text, int withCharLimit) {
    return QStringLiteral("%1...").arg(text.left(withCharLimit));
}

QSize CustomProgressBar::sizeHint() const {
    return QSize(300, kHeight);
}

void CustomProgressBar::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    painter.save();
    strokeSquareOutline(painter, r, QColor::fromRgbF(0.8f, 0.8f, 0.8f));
    painter.restore();

    painter.fillRect(r, m_emptyColor);
    painter.fillRect(QRectF(r.x(), r.y(), double(m_progress) * r.width(), r.height()),
                     QColor::fromRgbF(0.95f, 0.95f, 0.95f));

    QMutexLocker locker(&textDrawingLock());
    painter.setPen(Qt::black);
    const qreal h = height();
    drawTextFromBottomLeft(painter, customFont(QStringLiteral("Raleway"), 12, true), 10, 25, h,
                           validateString(m_songName, kCharLimit));
    drawTextFromBottomLeft(painter, customFont(QStringLiteral("Raleway"), 14), 10, 7, h,
                           validateString(m_songArtist, kCharLimit));
    drawTextFromBottomLeft(painter, customFont(QStringLiteral("Raleway"), 35), 250, 3, h,
                           m_percentage);
}
