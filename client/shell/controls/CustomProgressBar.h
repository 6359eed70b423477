#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// The track progress bar of the progress page: a light outline, a coloured
// fill as wide as the fraction done, and the song, its artist and the percentage.
// The bar itself (its frame) is always 22 pixels high. The song name and the
// large percentage are placed from the bar's lower-left corner and reach
// above it, so the widget reserves a text band on top of the bar: its real
// geometry is the frame grown upward by `textBand()`. Main thread only.
class CustomProgressBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(float progress READ progress WRITE setProgress)
    Q_PROPERTY(QString songName READ songName WRITE setSongName)
    Q_PROPERTY(QString songArtist READ songArtist WRITE setSongArtist)
    Q_PROPERTY(QString percentage READ percentage WRITE setPercentage)
    Q_PROPERTY(QColor emptyColor READ emptyColor WRITE setEmptyColor)
public:
    static constexpr int kHeight = 22;
    static constexpr int kCharLimit = 30;

    explicit CustomProgressBar(QWidget *parent = nullptr);

    float progress() const { return m_progress; }
    // Clamped to 0 … 1 (a value that is not a number counts as 0).
    void setProgress(float progress);
    QString songName() const { return m_songName; }
    void setSongName(const QString &name);
    QString songArtist() const { return m_songArtist; }
    void setSongArtist(const QString &artist);
    QString percentage() const { return m_percentage; }
    void setPercentage(const QString &percentage);
    QColor emptyColor() const { return m_emptyColor; }
    void setEmptyColor(const QColor &color);

    // `text` when it has at most `limit` characters, else its cut form.
    static QString validateString(const QString &text, int withCharLimit);
    // The first `limit` characters followed by "...".
    static QString shortenString(const QString &text, int withCharLimit);

    // Height of the band above the bar that the song name and the
    // percentage reach into.
    int textBand() const { return m_textBand; }
    // The bar without the text band, in parent coordinates.
    QRect frame() const;
    // Places the bar at `frame` (its height is always 22); the widget grows
    // upward by the text band.
    void setFrame(const QRect &frame);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_progress = 0.0f;
    QString m_songName;
    QString m_songArtist;
    QString m_percentage;
    QColor m_emptyColor = Qt::transparent;
    int m_textBand = 0;
};
