#include "Fonts.h"

#include "settings/DataFolders.h"
#include "settings/Logging.h"

#include <QFile>
#include <QFontDatabase>

namespace {

const char *const kFaces[] = {"Raleway-Regular", "Raleway-Medium", "Raleway-Heavy"};

} // namespace

bool registerCustomFontsFrom(const QString &directory, QString *error) {
    for (const char *face : kFaces) {
        const QString path = QStringLiteral("%1/%2.ttf").arg(directory, QLatin1String(face));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("The font %1 is missing (%2: %3).")
                             .arg(QLatin1String(face), path, file.errorString());
            return false;
        }
        if (QFontDatabase::addApplicationFontFromData(file.readAll()) < 0) {
            if (error)
                *error = QStringLiteral("The font %1 could not be registered (%2).")
                             .arg(QLatin1String(face), path);
            return false;
        }
        qCDebug(lcShell) << "Registered font" << face;
    }
    return true;
}

bool registerCustomFonts(QString *error) {
    static bool registered = false;
    if (!registered)
        registered = registerCustomFontsFrom(DataFolders::dataFile(QStringLiteral("fonts")), error);
    return registered;
}

QFont customFont(const QString &face, int pixelSize, bool bold) {
    QFont font(QStringLiteral("Raleway"));
    font.setPixelSize(pixelSize);
    if (face.endsWith(QLatin1String("-Heavy")))
        font.setWeight(QFont::Black);
    else if (face.endsWith(QLatin1String("-Medium")))
        font.setWeight(QFont::Medium);
    else
        font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}
