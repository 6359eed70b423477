// An object being written to the S3 store: a local copy of its bytes in an
// unnamed file (for the checks before the commit, and gone with its
// descriptor, also after a crash), sent on to the store while they arrive.
#pragma once

#include "S3Store.h"

#include <filesystem>
#include <memory>
#include <string>

namespace cloud::objects {

std::unique_ptr<IncomingObject> makeS3Incoming(std::shared_ptr<S3Store::Client> client,
                                               std::string key, const std::filesystem::path &dir);

} // namespace cloud::objects
