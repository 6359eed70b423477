#pragma once

#include <QString>
#include <QWidget>

// The root view of every screen: a plain white area that carries the
// screen's name, by which the main window tells screens apart.
class CustomView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString viewName READ viewName WRITE setViewName)
public:
    explicit CustomView(QWidget *parent = nullptr);

    QString viewName() const { return m_viewName; }
    void setViewName(const QString &name) { m_viewName = name; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_viewName;
};
