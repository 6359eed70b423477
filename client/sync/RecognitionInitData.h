#pragma once

#include <QByteArray>
#include <QString>

class DeploymentConfig;

// The file whose path libtonemill hands the recognition engine as its
// initialisation data. A deployment that names one (`[recognition] initData`)
// gets it as it stands: a catalogue of this computer (catalog=PATH) or a
// lookup service of its choice. One that names none has the engine ask the
// service's own lookup, trusting the service's extra CA file too, so that
// another computer of the household needs only the gateway's address.
namespace RecognitionInitData {

// The engine's data for the gateway's lookup service.
QByteArray lookupText(const DeploymentConfig &config);

// The path to hand the engine: the deployment's file, or a file of
// lookupText() in the data folder (written once for each distinct text, as
// the library reads a file). Empty, with `error` set, when that file cannot
// be written.
QString path(const DeploymentConfig &config, QString *error = nullptr);

} // namespace RecognitionInitData
