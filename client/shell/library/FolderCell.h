#pragma once

#include <QWidget>

class QLabel;

// A row of the library picker's folder table: one text field with the
// folder's display name. Draws nothing of its own, so the table's selection
// shows through.
class FolderCell : public QWidget {
    Q_OBJECT
public:
    // `identifier` is the cell's reuse identifier (its object name).
    explicit FolderCell(const QString &identifier, QWidget *parent = nullptr);

    QLabel *textField() const { return m_textField; }

private:
    QLabel *m_textField;
};
