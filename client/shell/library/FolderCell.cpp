#include "FolderCell.h"

#include <QHBoxLayout>
#include <QLabel>

FolderCell::FolderCell(const QString &identifier, QWidget *parent)
    : QWidget(parent)
    , m_textField(new QLabel(this)) {
    setObjectName(identifier);
    resize(200, 25);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_textField->setObjectName(QStringLiteral("textField"));
    m_textField->setFont(QFont(QStringLiteral("Raleway"), 14));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->addWidget(m_textField);
}
