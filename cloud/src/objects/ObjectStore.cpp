#include "ObjectStore.h"

#include "Crypto.h"

namespace cloud::objects {

std::unique_ptr<IncomingObject> ObjectStore::create() {
    return createAt(crypto::randomHex(16));
}

std::vector<std::pair<std::string, std::string>>
ObjectStore::removeMany(const std::vector<std::string> &keys) {
    std::vector<std::pair<std::string, std::string>> failed;
    for (const std::string &key : keys) {
        try {
            remove(key);
        } catch (const ObjectError &e) {
            failed.emplace_back(key, e.what());
        }
    }
    return failed;
}

} // namespace cloud::objects
