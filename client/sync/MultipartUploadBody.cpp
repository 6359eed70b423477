#include "MultipartUploadBody.h"

#include "TransferPace.h"

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

QByteArray MultipartUploadBody::head(const QString &fileName) {
    // A quote or a line break in a file name would end the header early and
    // let the name write headers of its own; they are escaped as browsers do.
    QByteArray name = fileName.toUtf8();
    name.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return "--" + Boundary + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"" +
           name + "\"\r\nContent-Type: audio/mpeg\r\n\r\n";
}

QByteArray MultipartUploadBody::tail() {
    return "\r\n--" + Boundary + "--\r\n";
}

MultipartUploadBody::MultipartUploadBody(const QString &filePath, const QString &fileName,
                                         const QString &md5, QObject *parent)
    : QIODevice(parent)
    , m_head(head(fileName))
    , m_file(filePath)
    , m_tail(tail())
    , m_md5(md5.toLatin1().toLower()) {}

void MultipartUploadBody::setPace(TransferPace *pace) {
    m_pace = pace;
    if (pace)
        pace->setWake(this, [this] { emit readyRead(); });
}

bool MultipartUploadBody::open(OpenMode mode) {
    if ((mode & ReadWrite) != ReadOnly) {
        setErrorString(QStringLiteral("the upload body can only be read"));
        return false;
    }
    if (!m_file.open(QIODevice::ReadOnly)) {
        setErrorString(m_file.errorString());
        return false;
    }
    m_fileSize = m_file.size();
    m_produced = 0;
    m_hash.reset();
    m_checked = false;
    m_failed = false;
    return QIODevice::open(mode);
}

void MultipartUploadBody::close() {
    m_file.close();
    QIODevice::close();
}

qint64 MultipartUploadBody::size() const {
    return m_head.size() + m_fileSize + m_tail.size();
}

qint64 MultipartUploadBody::bytesAvailable() const {
    return size() - m_produced + QIODevice::bytesAvailable();
}

bool MultipartUploadBody::atEnd() const {
    return bytesAvailable() == 0;
}

bool MultipartUploadBody::fileIsAsAnnounced() {
    // Bytes appended since the file was opened are not in the body, so the
    // hash alone would not see them.
    struct stat now {};
    if (::fstat(m_file.handle(), &now) != 0 || now.st_size != m_fileSize)
        return false;
    return !m_md5.isEmpty() && m_hash.result().toHex() == m_md5;
}

qint64 MultipartUploadBody::fail(const QString &why, qint64 done) {
    m_failed = true;
    setErrorString(why);
    emit fileFailed();
    return done > 0 ? done : -1;
}

qint64 MultipartUploadBody::readData(char *data, qint64 maxSize) {
    if (m_failed || m_produced >= size())
        return -1; // the end of the stream: the network layer waits for it
    if (m_pace) {
        // Nothing now is not the end: the network layer waits for readyRead().
        maxSize = m_pace->allowance(std::min(maxSize, size() - m_produced));
        if (maxSize == 0)
            return 0;
    }
    const qint64 fileEnd = m_head.size() + m_fileSize;
    qint64 done = 0;
    while (done < maxSize && m_produced < size()) {
        const qint64 want = maxSize - done;
        qint64 got = 0;
        if (m_produced < m_head.size()) {
            got = std::min(want, m_head.size() - m_produced);
            std::memcpy(data + done, m_head.constData() + m_produced, size_t(got));
        } else if (m_produced < fileEnd) {
            got = m_file.read(data + done, std::min(want, fileEnd - m_produced));
            if (got < 0)
                return fail(m_file.errorString(), done);
            // Shorter than when it was opened.
            if (got == 0)
                return fail(ChangedWhileSent, done);
            m_hash.addData(QByteArrayView(data + done, got));
        } else {
            // The tail completes the body: it goes only after the file.
            if (!m_checked && !fileIsAsAnnounced())
                return fail(ChangedWhileSent, done);
            m_checked = true;
            const qint64 offset = m_produced - fileEnd;
            got = std::min(want, m_tail.size() - offset);
            std::memcpy(data + done, m_tail.constData() + offset, size_t(got));
        }
        done += got;
        m_produced += got;
    }
    return done;
}
