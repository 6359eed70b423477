#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>

// Reads a JSON object as it is parsed, handing over each element of one of
// its arrays as soon as the element is complete and then dropping it. A cloud
// library listing of any size so costs the records made from it, not a
// document of it as well. Everything else of the object is kept as the
// envelope, that array left empty in it.
//
// Values are as QJsonDocument gives them (integers that fit in 64 bits as
// integers, other numbers as doubles), and a document nested deeper than
// QJsonDocument reads is refused as it refuses it.
namespace ListingReader {

// False when `bytes` is not one valid JSON text: what was handed over before
// the fault was found is then not to be trusted. A text that is valid but
// not an object leaves the envelope empty and hands nothing over.
bool read(const QByteArray &bytes, const QString &arrayKey, QJsonObject *envelope,
          const std::function<void(const QJsonValue &element)> &element);

} // namespace ListingReader
