#include "TrayIcons.h"

#include "settings/DataFolders.h"
#include "settings/Logging.h"

#include <QFileInfo>
#include <QHash>

namespace TrayIcons {

namespace {

// The PNG sizes cmake/SonarboxData.cmake renders.
constexpr int kStatusSizes[] = {16, 22, 24, 32, 48};
constexpr int kApplicationSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

template <std::size_t N>
QIcon themeIcon(const QString &iconName, const QString &context, const int (&sizes)[N]) {
    // Made once per name: the tray asks again at every change of state.
    static QHash<QString, QIcon> made;
    if (const auto it = made.constFind(iconName); it != made.constEnd())
        return *it;
    QIcon icon;
    for (const int size : sizes) {
        const QString file = DataFolders::iconFile(
            QStringLiteral("%1x%1/%2/%3.png").arg(size).arg(context, iconName));
        if (QFileInfo::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    if (icon.isNull())
        qCWarning(lcShell).noquote()
            << "The icon" << iconName << "is missing from" << DataFolders::iconFile(QString());
    made.insert(iconName, icon);
    return icon;
}

} // namespace

QString name(TrayState state) {
    switch (state) {
    case TrayState::Idle:
        return QStringLiteral("sonarbox-tray-idle");
    case TrayState::Syncing:
        return QStringLiteral("sonarbox-tray-syncing");
    case TrayState::Offline:
        return QStringLiteral("sonarbox-tray-offline");
    case TrayState::NeedsAttention:
        return QStringLiteral("sonarbox-tray-attention");
    }
    return QStringLiteral("sonarbox-tray-idle");
}

QIcon forState(TrayState state) {
    return themeIcon(name(state), QStringLiteral("status"), kStatusSizes);
}

QIcon application() {
    return themeIcon(QStringLiteral("org.sonarbox.Sonarbox"), QStringLiteral("apps"),
                     kApplicationSizes);
}

} // namespace TrayIcons
