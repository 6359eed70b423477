#include "CustomProgressBar.h"

#include "Fonts.h"
#include "SquareOutline.h"

#include <QFontMetricsF>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// All bars draw their texts one at a time.
QMutex &textDrawingLock() {
    static QMutex lock;
    return lock;
}

QFont songFont() {
    return customFont(QStringLiteral("Raleway"), 12, true);
}
QFont artistFont() {
    return customFont(QStringLiteral("Raleway"), 14);
}
QFont percentageFont() {
    return customFont(QStringLiteral("Raleway"), 35);
}

// The fill: the colour of the program's icon, which stands out from the
// white page (3.7 : 1) while the black artist and percentage drawn over it
// stay readable (5.6 : 1).
const QColor kFillColor(0x15, 0x90, 0xb0);

// Text positions, measured from the bar's lower-left corner upward.
constexpr qreal kTextX = 10;
constexpr qreal kSongY = 25;
constexpr qreal kArtistY = 7;
constexpr qreal kPercentageX = 250;
constexpr qreal kPercentageY = 3;

// How far the highest line reaches above the top of the bar.
int textBandAbove(int barHeight) {
    const qreal songTop = kSongY + QFontMetricsF(songFont()).height();
    const qreal percentageTop = kPercentageY + QFontMetricsF(percentageFont()).height();
    return std::max(0, int(std::ceil(std::max(songTop, percentageTop))) - barHeight);
}

// Draws `text` with the lower-left corner of its line at (x, y) measured
// from the widget's lower-left corner (which is the bar's).
void drawTextFromBottomLeft(QPainter &painter, const QFont &font, qreal x, qreal y,
                            qreal widgetHeight, const QString &text) {
    painter.setFont(font);
    const qreal baseline = widgetHeight - y - QFontMetricsF(font).descent();
    painter.drawText(QPointF(x, baseline), text);
}

} // namespace

CustomProgressBar::CustomProgressBar(QWidget *parent)
    : QWidget(parent)
    , m_textBand(textBandAbove(kHeight)) {
    setFixedHeight(kHeight + m_textBand);
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

QRect CustomProgressBar::frame() const {
    return geometry().adjusted(0, m_textBand, 0, 0);
}

void CustomProgressBar::setFrame(const QRect &frame) {
    setGeometry(frame.x(), frame.y() - m_textBand, frame.width(), kHeight + m_textBand);
}

QSize CustomProgressBar::sizeHint() const {
    return QSize(300, kHeight + m_textBand);
}

void CustomProgressBar::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = QRectF(0, m_textBand, width(), kHeight).adjusted(0.5, 0.5, -0.5, -0.5);

    painter.save();
    strokeSquareOutline(painter, r, QColor::fromRgbF(0.8f, 0.8f, 0.8f));
    painter.restore();

    painter.fillRect(r, m_emptyColor);
    painter.fillRect(QRectF(r.x(), r.y(), double(m_progress) * r.width(), r.height()), kFillColor);

    QMutexLocker locker(&textDrawingLock());
    painter.setPen(Qt::black);
    const qreal h = height();
    drawTextFromBottomLeft(painter, songFont(), kTextX, kSongY, h,
                           validateString(m_songName, kCharLimit));
    drawTextFromBottomLeft(painter, artistFont(), kTextX, kArtistY, h,
                           validateString(m_songArtist, kCharLimit));
    drawTextFromBottomLeft(painter, percentageFont(), kPercentageX, kPercentageY, h, m_percentage);
}
