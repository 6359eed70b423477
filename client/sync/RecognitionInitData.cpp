#include "RecognitionInitData.h"

#include "settings/DeploymentConfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace RecognitionInitData {

QByteArray lookupText(const DeploymentConfig &config) {
    QByteArray text = "lookup=" + config.gatewayBaseUrl.toUtf8() + "/recognition/v1/lookup\n";
    const QString caFile = config.caFilePath();
    if (!caFile.isEmpty())
        text += "ca_file=" + caFile.toUtf8() + "\n";
    return text;
}

QString path(const DeploymentConfig &config, QString *error) {
    if (!config.recognitionInitData.isEmpty())
        return config.recognitionInitDataPath();
    const QByteArray text = lookupText(config);
    // Named after its text: processes with other gateways never share a file,
    // and a file once written is never rewritten under a reader.
    const QString name =
        QStringLiteral("lookup-%1.conf")
            .arg(QString::fromLatin1(
                QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex().left(16)));
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                               .filePath(QStringLiteral("recognition"));
    const QString file = QDir(folder).filePath(name);
    QFile existing(file);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text)
        return file;
    QSaveFile out(file);
    if (!QDir().mkpath(folder) || !out.open(QIODevice::WriteOnly) ||
        out.write(text) != text.size() || !out.commit()) {
        if (error)
            *error = QStringLiteral("cannot write the recognition engine's data %1: %2")
                         .arg(file, out.errorString());
        return QString();
    }
    return file;
}

} // namespace RecognitionInitData
