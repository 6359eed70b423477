#include "CloudProcess.h"

#include "TestEnvironment.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QUuid>

#include <csignal>

namespace {

// One exchange with the server, waited for on the calling thread.
struct Reply {
    int status = 0;
    QByteArray body;
    QByteArray cookie;
};

Reply send(QNetworkAccessManager &net, QNetworkRequest request, const QByteArray &body,
           QHttpMultiPart *multipart = nullptr) {
    QNetworkReply *reply = multipart ? net.post(request, multipart) : net.post(request, body);
    if (multipart)
        multipart->setParent(reply);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    r.cookie = reply->rawHeader("Set-Cookie");
    reply->deleteLater();
    return r;
}

QNetworkRequest asJson(QNetworkRequest request) {
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    return request;
}

} // namespace

CloudProcess::CloudProcess() = default;

quint16 CloudProcess::port() const {
    if (m_port == 0)
        m_port = TestEnvironment::freeLocalPort();
    return m_port;
}

CloudProcess::~CloudProcess() {
    stop();
}

QString CloudProcess::executable() {
    return QStringLiteral(SONARBOX_CLOUD_EXE);
}

bool CloudProcess::addUser(const QString &email, const QString &password) {
    return ChildProcess::run(executable(),
                             {QStringLiteral("add-user"), QStringLiteral("--data"), m_data.path(),
                              email, password, QStringLiteral("--first"), QStringLiteral("Ada"),
                              QStringLiteral("--pbkdf2-iterations"), QStringLiteral("1000"),
                              QStringLiteral("--weak-password-hashes-for-tests")})
               .exitCode == 0;
}

bool CloudProcess::importFiles(const QStringList &files, const QString &recognitionCatalog) {
    QStringList args{QStringLiteral("import"), QStringLiteral("--data"), m_data.path()};
    if (!recognitionCatalog.isEmpty())
        args << QStringLiteral("--recognition-catalog") << recognitionCatalog;
    args << files;
    return ChildProcess::run(executable(), args).exitCode == 0;
}

void CloudProcess::useTls(const QString &certificateFile, const QString &keyFile) {
    m_certificateFile = certificateFile;
    m_keyFile = keyFile;
}

QNetworkRequest CloudProcess::request(const QString &url) const {
    QNetworkRequest request{QUrl(url)};
    if (!m_certificateFile.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(m_certificateFile));
        request.setSslConfiguration(tls);
    }
    return request;
}

bool CloudProcess::start(const QStringList &extraArguments) {
    QStringList tls;
    if (!m_certificateFile.isEmpty())
        tls << QStringLiteral("--tls-cert") << m_certificateFile << QStringLiteral("--tls-key")
            << m_keyFile;
    ChildProcess::Options options;
    options.errorFile = m_logFile;
    // Its standard output is one line: the address it listens on.
    options.output = ChildProcess::Output::Capture;
    if (!m_process.start(executable(),
                         QStringList{QStringLiteral("serve"), QStringLiteral("--data"),
                                     m_data.path(), QStringLiteral("--listen"),
                                     QStringLiteral("127.0.0.1:%1").arg(m_port),
                                     QStringLiteral("--pbkdf2-iterations"), QStringLiteral("1000"),
                                     QStringLiteral("--weak-password-hashes-for-tests"),
                                     QStringLiteral("--threads"), QStringLiteral("8")} +
                             tls + extraArguments,
                         options))
        return false;
    // A data folder of a large library from before the player library is
    // indexed before the server listens.
    static const QRegularExpression listening(QStringLiteral("listening on \\S+:(\\d+)\\n"));
    QRegularExpressionMatch bound;
    if (!TestEnvironment::waitUntil(
            [&] {
                bound = listening.match(QString::fromUtf8(m_process.output()));
                return bound.hasMatch() || !m_process.isRunning();
            },
            60000) ||
        !bound.hasMatch())
        return false;
    m_port = quint16(bound.captured(1).toUInt());
    return TestEnvironment::waitUntil(
               [&] {
                   QTcpSocket probe;
                   probe.connectToHost(QStringLiteral("127.0.0.1"), m_port);
                   return probe.waitForConnected(100) || !m_process.isRunning();
               },
               10000) &&
           m_process.isRunning();
}

QStringList CloudProcess::requestLog(const QString &contains) const {
    QFile file(m_logFile);
    if (m_logFile.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.isEmpty() && line.contains(contains.toUtf8()))
            lines << QString::fromUtf8(line);
    return lines;
}

void CloudProcess::stop() {
    m_process.stop();
}

void CloudProcess::kill() {
    m_process.signal(SIGKILL);
    m_process.waitForFinished(2000);
}

QString CloudProcess::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_certificateFile.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"))
        .arg(port());
}

std::optional<QString> CloudProcess::uploadAsAnotherDevice(const QString &email,
                                                           const QString &password,
                                                           const QString &file) {
    QNetworkAccessManager net;
    const QString gateway = baseUrl() + QStringLiteral("/Vexmusic/");
    const Reply token =
        send(net, asJson(request(gateway + QStringLiteral("userJson"))), R"({"getToken":{}})");
    const QList<QByteArray> pieces = token.body.split('"');
    if (token.status != 200 || pieces.size() < 2)
        return std::nullopt;
    // One other installation, whatever the number of uploads: the account's
    // device limit counts installations.
    if (m_otherDevice.isEmpty())
        m_otherDevice = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString device = m_otherDevice;
    const QByteArray signature =
        QCryptographicHash::hash((email + password + device).toUtf8() + pieces.at(1),
                                 QCryptographicHash::Md5)
            .toHex()
            .toUpper();
    const QJsonObject login{
        {QStringLiteral("loginDesktop"),
         QJsonObject{{QStringLiteral("username"), email},
                     {QStringLiteral("password"), password},
                     {QStringLiteral("deviceId"), device},
                     {QStringLiteral("signature"), QString::fromLatin1(signature)}}}};
    const Reply signedIn = send(net, asJson(request(gateway + QStringLiteral("userJson"))),
                                QJsonDocument(login).toJson(QJsonDocument::Compact));
    if (signedIn.status != 200 || signedIn.cookie.isEmpty())
        return std::nullopt;

    auto *multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    const QString name = QFileInfo(file).fileName();
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(name));
    auto *content = new QFile(file, multipart);
    if (!content->open(QIODevice::ReadOnly)) {
        delete multipart;
        return std::nullopt;
    }
    part.setBodyDevice(content);
    multipart->append(part);
    QNetworkRequest upload = request(gateway + QStringLiteral("controllers/DesktopUploadMedia"));
    upload.setRawHeader("Cookie", signedIn.cookie.split(';').first());
    const Reply uploaded = send(net, upload, {}, multipart);
    const QJsonArray content0 = QJsonDocument::fromJson(uploaded.body)
                                    .object()
                                    .value(QStringLiteral("purchasedContent"))
                                    .toArray();
    if (uploaded.status != 200 || content0.isEmpty())
        return std::nullopt;
    return QString::number(content0.first().toObject().value(QStringLiteral("id")).toInteger());
}

QList<QJsonObject> CloudProcess::collectedEvents() const {
    QNetworkAccessManager net;
    QNetworkReply *reply = net.get(request(baseUrl() + QStringLiteral("/collect/events")));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    QList<QJsonObject> events;
    for (const QJsonValue &event : QJsonDocument::fromJson(reply->readAll()).array())
        events << event.toObject().value(QStringLiteral("fields")).toObject();
    return events;
}

QStringList CloudProcess::query(const QString &sql) const {
    const ChildProcess::Result r =
        ChildProcess::run(QStringLiteral("sqlite3"),
                          {m_data.filePath(QStringLiteral("cloud.sqlite")), sql}, {}, 10000);
    if (r.exitCode != 0)
        return {};
    QStringList rows = QString::fromUtf8(r.output).split(QLatin1Char('\n'));
    rows.removeAll(QString());
    return rows;
}
