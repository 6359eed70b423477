#include "ChangeJournal.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {

QByteArray treeKey(const QByteArray &path) {
    return QFile::encodeName(QDir::cleanPath(QFile::decodeName(path)));
}

bool isIn(const QByteArray &folder, const QByteArray &root) {
    return folder.startsWith(root) &&
           (folder.size() == root.size() || folder.at(root.size()) == '/' || root.endsWith('/'));
}

} // namespace

void ChangeJournal::watching(const QList<QByteArray> &roots) {
    std::lock_guard guard(m_lock);
    m_trees.clear();
    for (const QByteArray &root : roots)
        m_trees.insert(treeKey(root), Tree{});
    ++m_sequence;
}

void ChangeJournal::unreported(const QByteArray &root) {
    std::lock_guard guard(m_lock);
    const auto tree = m_trees.find(treeKey(root));
    if (tree != m_trees.end()) {
        tree->unreported = true;
        tree->wholeSince = kNever;
    }
}

void ChangeJournal::complete(const QByteArray &root, Identity folder) {
    std::lock_guard guard(m_lock);
    const auto tree = m_trees.find(treeKey(root));
    if (tree == m_trees.end() || tree->unreported)
        return;
    // Another folder at the same path is another tree, watched from now on.
    if (tree->wholeSince == kNever || !(tree->folder == folder)) {
        tree->wholeSince = ++m_sequence;
        tree->folder = folder;
    }
}

void ChangeJournal::incomplete(const QByteArray &root) {
    std::lock_guard guard(m_lock);
    const auto tree = m_trees.find(treeKey(root));
    if (tree != m_trees.end())
        tree->wholeSince = kNever;
}

void ChangeJournal::incomplete() {
    std::lock_guard guard(m_lock);
    ++m_sequence;
    for (Tree &tree : m_trees)
        tree.wholeSince = kNever;
}

void ChangeJournal::changed(const QByteArray &folder) {
    std::lock_guard guard(m_lock);
    const Mark now = ++m_sequence;
    for (auto tree = m_trees.begin(); tree != m_trees.end(); ++tree)
        if (isIn(folder, tree.key()))
            tree->lastChange = now;
}

ChangeJournal::Mark ChangeJournal::mark() {
    std::lock_guard guard(m_lock);
    return ++m_sequence;
}

bool ChangeJournal::quietSince(const QString &root, Mark since) const {
    const QByteArray key = treeKey(QFile::encodeName(root));
    // Looked at outside the lock: the file system may be slow to answer.
    const std::optional<Identity> now = identityOf(key);
    std::lock_guard guard(m_lock);
    const auto tree = m_trees.constFind(key);
    return tree != m_trees.cend() && tree->wholeSince < since && tree->lastChange < since && now &&
           *now == tree->folder;
}

std::optional<ChangeJournal::Identity> ChangeJournal::identityOf(const QByteArray &path) {
    struct stat attributes {};
    if (::stat(path.constData(), &attributes) != 0 || !S_ISDIR(attributes.st_mode))
        return std::nullopt;
    return Identity{quint64(attributes.st_dev), quint64(attributes.st_ino)};
}
