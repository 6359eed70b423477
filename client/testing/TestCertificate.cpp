#include "TestCertificate.h"

#include <QDir>
#include <QProcess>

std::optional<TestCertificate> TestCertificate::make(const QString &folder, const QString &name) {
    const QDir dir(folder);
    TestCertificate made{dir.filePath(name + QStringLiteral(".pem")),
                         dir.filePath(name + QStringLiteral(".key"))};
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
                   QStringLiteral("-keyout"), made.keyFile, QStringLiteral("-out"),
                   made.certificateFile});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        qWarning().noquote() << "openssl could not make a test certificate:"
                             << QString::fromLocal8Bit(openssl.readAll());
        return std::nullopt;
    }
    return made;
}
