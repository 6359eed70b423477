#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Where one download is written: a hidden temporary file in the destination
// folder (".sonarbox-XXXXXX.part"), which becomes the song's file only once
// all of it has arrived, under the first free name ("name.ext",
// "name (2).ext" …) so that no existing file is ever replaced. Until then the
// song's name is not taken; a failed download removes its temporary file, and
// one left behind by a killed process is removed by the next run
// (removeStale). A folder that runs out of space (or quota) is named in the
// error, as "no space left in <folder>".
class DownloadTarget {
public:
    explicit DownloadTarget(QString folder);
    ~DownloadTarget(); // discards an uncommitted file
    DownloadTarget(const DownloadTarget &) = delete;
    DownloadTarget &operator=(const DownloadTarget &) = delete;

    // Creates the folder when needed and the temporary file in it.
    bool open(QString *error = nullptr);
    bool write(const QByteArray &bytes, QString *error = nullptr);
    qint64 written() const { return m_written; }
    QString temporaryPath() const { return m_tempPath; }

    // Moves the complete file to the first free name built from `fileName`
    // and answers its path; nothing (and the temporary file is removed) when
    // that fails.
    std::optional<QString> commit(const QString &fileName, QString *error = nullptr);
    // Removes the temporary file (nothing after a commit).
    void discard();

    // Why writing into `folder` failed with `error` (an errno value), in words.
    static QString writeError(const QString &folder, int error);

    // Removes the temporary files of downloads that never finished from
    // `folder`; answers how many.
    static int removeStale(const QString &folder);
    // The candidate names for `fileName`: n = 1 is the name itself, then
    // "stem (n).ext".
    static QString numberedName(const QString &fileName, int n);

private:
    QString m_folder;
    QString m_tempPath;
    int m_fd = -1;
    qint64 m_written = 0;
};
