#pragma once

#include "TokenBucket.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QNetworkReply;

// Keeps the transfers of one direction to the limit in force (TransferLimits),
// read afresh at every chunk and at every wake, so that a change reaches a
// transfer in flight. Bytes held back are let go by a wake: the transfer is
// called back once more of them may go, and again at least every quarter of a
// second while they are held. Without a limit a chunk costs a look at the limit.
// The bucket outlives the transfers, so that many short ones together keep to
// the limit too. Lives on the thread of the transfers.
class TransferPace : public QObject {
    Q_OBJECT
public:
    enum class Direction { Upload, Download };

    explicit TransferPace(Direction direction, QObject *parent = nullptr);

    // The transfer that a wake calls on: `wake` runs while `context` lives
    // (replacing the earlier transfer's).
    void setWake(QObject *context, std::function<void()> wake);

    // How many of `wanted` bytes may go now (all of them without a limit);
    // they count as gone. Fewer than wanted: a wake follows.
    qint64 allowance(qint64 wanted);

    // Keeps `reply` from buffering far beyond the limit, so that the socket
    // is not drained faster than the limit either. Call it as soon as the
    // reply is made (before anything arrives), and again at every read.
    void bound(QNetworkReply *reply) const;
    // What the limit lets be read of `reply` now.
    QByteArray read(QNetworkReply *reply);

private:
    qint64 limitInForce() const; // bytes a second, 0 without a limit

    Direction m_direction;
    TokenBucket m_bucket;
    QTimer m_wakeTimer;
    QPointer<QObject> m_wakeContext;
    std::function<void()> m_wake;
};
