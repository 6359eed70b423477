#include "ChangeJournal.h"

#include <QDir>
#include <QFile>

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

void ChangeJournal::complete() {
    std::lock_guard guard(m_lock);
    const Mark now = ++m_sequence;
    for (Tree &tree : m_trees)
        if (!tree.unreported && tree.wholeSince == kNever)
            tree.wholeSince = now;
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
    std::lock_guard guard(m_lock);
    const auto tree = m_trees.constFind(treeKey(QFile::encodeName(root)));
    return tree != m_trees.cend() && tree->wholeSince < since && tree->lastChange < since;
}
