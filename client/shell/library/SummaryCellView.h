#pragma once

#include <QWidget>

class QLabel;

// A row of the scan summary's table: the source's icon, its title and the
// number of tracks found there. Draws nothing of its own.
class SummaryCellView : public QWidget {
    Q_OBJECT
public:
    // `identifier` is the cell's reuse identifier (its object name).
    explicit SummaryCellView(const QString &identifier, QWidget *parent = nullptr);

    QLabel *folderIcon() const { return m_folderIcon; }
    QLabel *folderTitle() const { return m_folderTitle; }
    QLabel *folderFileCount() const { return m_folderFileCount; }

    // Shows the image of the resource name ("icon_itunes", "icon_folder");
    // an empty name clears it.
    void setIconName(const QString &name);
    QString iconName() const { return m_iconName; }

private:
    QLabel *m_folderIcon;
    QLabel *m_folderTitle;
    QLabel *m_folderFileCount;
    QString m_iconName;
};
