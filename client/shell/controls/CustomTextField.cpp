#include "CustomTextField.h"

#include "Fonts.h"

CustomTextField::CustomTextField(QWidget *parent)
    : CustomTextField(QString(), parent) {}

CustomTextField::CustomTextField(const QString &text, QWidget *parent)
    : QLabel(text, parent) {
    setFont(customFont(QStringLiteral("Raleway"), 14));
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground, true);
}
