#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QIODevice>
#include <QPointer>

class TransferPace;

// The body of one multipart upload: a head, the content of a file and a tail,
// read in that order straight from disk, so that the memory an upload needs
// does not grow with the file. The device is sequential; its size() is known
// from the start, so that the request can carry an exact Content-Length.
//
// The file's bytes are hashed as they are read. When they are not the ones
// the checksum named (the file changed since it was hashed, or while it is
// being sent) or the file's length changed, the tail is never handed out:
// the receiver gets a body short of its length, which it discards.
class MultipartUploadBody : public QIODevice {
    Q_OBJECT
public:
    static inline const QString ChangedWhileSent =
        QStringLiteral("the file changed while it was being sent");

    static inline const QByteArray Boundary = QByteArrayLiteral("----Zq4r8uLmW2xTe6Jk0PoNcVbHa");

    // The part's headers for a file sent under `fileName`.
    static QByteArray head(const QString &fileName);
    static QByteArray tail();

    // `md5`: the checksum announced for the file, in hexadecimal.
    MultipartUploadBody(const QString &filePath, const QString &fileName, const QString &md5,
                        QObject *parent = nullptr);

    // Hands out no more than `pace` allows; what it holds back follows with a
    // readyRead() once it may go.
    void setPace(TransferPace *pace);

    // Opens the file; false (with errorString()) when it cannot be read.
    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 size() const override;
    // The file's own bytes in the body (known once open).
    qint64 fileSize() const { return m_fileSize; }
    qint64 bytesAvailable() const override;
    bool atEnd() const override;

signals:
    // The file cannot be sent as announced: it changed, or could not be
    // read. Nothing more is handed out (errorString() says why). Emitted
    // from within a read.
    void fileFailed();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    // Whether the file, read whole, is still what was announced.
    bool fileIsAsAnnounced();
    // Hands out nothing more; answers what to return for a read of which
    // `done` bytes were produced.
    qint64 fail(const QString &why, qint64 done);

    QByteArray m_head;
    QFile m_file;
    QByteArray m_tail;
    QByteArray m_md5;
    QCryptographicHash m_hash{QCryptographicHash::Md5};
    qint64 m_fileSize = 0;
    qint64 m_produced = 0; // bytes handed out so far
    bool m_checked = false;
    bool m_failed = false;
    QPointer<TransferPace> m_pace;
};
