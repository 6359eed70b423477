#pragma once

#include <QLineEdit>

// A text field that answers Ctrl+X, Ctrl+C, Ctrl+V and Ctrl+A itself (cut,
// copy, paste, select all) whatever shortcuts the window defines; any other
// key or modifier combination gets the standard handling.
class CopyPasteTextfield : public QLineEdit {
    Q_OBJECT
public:
    explicit CopyPasteTextfield(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Runs the edit command of `event` when it is one of the four; answers
    // whether it was.
    bool performKeyEquivalent(QKeyEvent *event, bool perform);
};
