#include "MBCollection.h"

#include <cstdlib>

namespace {
MBCollection *g_instance = nullptr;
std::once_flag g_instanceOnce;
} // namespace

MBCollection *MBCollection::getIncance() {
    std::call_once(g_instanceOnce, [] { g_instance = new MBCollection(); });
    return g_instance;
}

MBCollection::~MBCollection() {
    clear();
}

void *MBCollection::allocateNewItem(std::size_t count, std::size_t size) {
    void *block = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
    if (block == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(mutex);
    items.push_back(block);
    return block;
}

void MBCollection::clear() {
    std::lock_guard lock(mutex);
    for (void *item : items) {
        std::free(item);
    }
    items.clear();
}

std::size_t MBCollection::itemCount() {
    std::lock_guard lock(mutex);
    return items.size();
}
