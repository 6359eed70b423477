#include "SummaryCellView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

SummaryCellView::SummaryCellView(const QString &identifier, QWidget *parent)
    : QWidget(parent)
    , m_folderIcon(new QLabel(this))
    , m_folderTitle(new QLabel(this))
    , m_folderFileCount(new QLabel(this)) {
    setObjectName(identifier);
    resize(200, 25);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_folderIcon->setObjectName(QStringLiteral("folderIcon"));
    m_folderTitle->setObjectName(QStringLiteral("folderTitle"));
    m_folderFileCount->setObjectName(QStringLiteral("folderFileCount"));
    m_folderIcon->setFixedSize(20, 20);
    m_folderIcon->setScaledContents(true);
    const QFont raleway(QStringLiteral("Raleway"), 14);
    m_folderTitle->setFont(raleway);
    m_folderFileCount->setFont(raleway);
    m_folderFileCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->addWidget(m_folderIcon);
    layout->addWidget(m_folderTitle, 1);
    layout->addWidget(m_folderFileCount);
}

void SummaryCellView::setIconName(const QString &name) {
    m_iconName = name;
    if (name.isEmpty())
        m_folderIcon->clear();
    else
        m_folderIcon->setPixmap(QPixmap(QStringLiteral(":/images/%1.png").arg(name)));
}
