#include "TestCertificate.h"

#include "ChildProcess.h"

#include <QDebug>
#include <QDir>
#include <QFile>

std::optional<TestCertificate> TestCertificate::make(const QString &folder, const QString &name) {
    const QDir dir(folder);
    TestCertificate made{dir.filePath(name + QStringLiteral(".pem")),
                         dir.filePath(name + QStringLiteral(".key"))};
    ChildProcess::Options options = ChildProcess::captured();
    options.errorFile = dir.filePath(name + QStringLiteral(".openssl.txt"));
    const ChildProcess::Result openssl = ChildProcess::run(
        QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
         QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
         QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
         QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"), QStringLiteral("-keyout"),
         made.keyFile, QStringLiteral("-out"), made.certificateFile},
        {}, 30000, options);
    if (openssl.exitCode != 0) {
        QFile said(options.errorFile);
        qWarning().noquote() << "openssl could not make a test certificate:"
                             << QString::fromLocal8Bit(openssl.output +
                                                       (said.open(QIODevice::ReadOnly)
                                                            ? said.readAll()
                                                            : QByteArray()));
        return std::nullopt;
    }
    return made;
}
