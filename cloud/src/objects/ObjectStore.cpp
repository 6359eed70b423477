#include "ObjectStore.h"

#include "Crypto.h"

namespace cloud::objects {

std::unique_ptr<IncomingObject> ObjectStore::create() {
    return createAt(crypto::randomHex(16));
}

} // namespace cloud::objects
