#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QPointer>

class TransferPace;

// The body of one multipart upload: a head, the content of a file and a tail,
// read in that order straight from disk, so that the memory an upload needs
// does not grow with the file. The device is sequential; its size() is known
// from the start, so that the request can carry an exact Content-Length.
class MultipartUploadBody : public QIODevice {
    Q_OBJECT
public:
    static inline const QByteArray Boundary = QByteArrayLiteral("----Zq4r8uLmW2xTe6Jk0PoNcVbHa");

    // The part's headers for a file sent under `fileName`.
    static QByteArray head(const QString &fileName);
    static QByteArray tail();

    MultipartUploadBody(const QString &filePath, const QString &fileName,
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

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_head;
    QFile m_file;
    QByteArray m_tail;
    qint64 m_fileSize = 0;
    qint64 m_produced = 0; // bytes handed out so far
    QPointer<TransferPace> m_pace;
};
