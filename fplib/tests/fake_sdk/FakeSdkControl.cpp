#include "FakeSdk.h"
#include "FakeSdkInternal.h"

namespace fakesdk {

const std::string *FileInfoRecord::find(const std::string &key) const {
    for (const auto &entry : metadata) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

std::mutex &mutex() {
    static std::mutex instance;
    return instance;
}

State &state() {
    static State instance;
    return instance;
}

void reset() {
    std::lock_guard lock(mutex());
    state() = State{};
}

void failAt(const std::string &op, int nth, gnsdk_error_t code) {
    std::lock_guard lock(mutex());
    state().failures[op] = FailRule{nth, code};
}

std::vector<std::string> callNames() {
    std::lock_guard lock(mutex());
    std::vector<std::string> names;
    for (const std::string &call : state().calls) {
        names.push_back(call.substr(0, call.find('(')));
    }
    return names;
}

int callCount(const std::string &name) {
    int count = 0;
    for (const std::string &call : callNames()) {
        count += call == name ? 1 : 0;
    }
    return count;
}

NodePtr defaultResponse(const FileInfoRecord &record) {
    NodePtr track = Node::make();
    track->value(GNSDK_MUSICIDFILE_GDO_VALUE_IDENT, record.ident)
        .value(GNSDK_GDO_VALUE_GNID, "track-" + record.ident)
        .value(GNSDK_GDO_VALUE_TUI, "1001")
        .value(GNSDK_GDO_VALUE_TRACK_NUMBER, "1");
    NodePtr album = Node::make();
    album->value(GNSDK_GDO_VALUE_GNID, "album-1").child(GNSDK_GDO_CHILD_TRACK_MATCHED, track);
    NodePtr response = Node::make();
    response->child(GNSDK_GDO_CHILD_ALBUM, album);
    return response;
}

} // namespace fakesdk
