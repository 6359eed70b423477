// The gnsdk_* functions of the stand-in. Each call is logged and may be made
// to fail by the test; handles are plain heap objects counted for leaks.
#include "FakeSdk.h"
#include "FakeSdkInternal.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

using namespace fakesdk;

struct gnsdk_manager_handle_s {
    int unused;
};
struct gnsdk_user_handle_s {
    std::string text;
};
struct gnsdk_locale_handle_s {
    int unused;
};
struct gnsdk_list_handle_s {
    NodePtr root;
};
struct gnsdk_list_element_handle_s {
    NodePtr node;
};
struct gnsdk_gdo_handle_s {
    NodePtr node;
    bool counted;
};
struct gnsdk_musicidfile_fileinfo_handle_s {
    std::size_t record;
};
struct gnsdk_musicidfile_query_handle_s {
    gnsdk_musicidfile_callbacks_t callbacks{};
    gnsdk_void_t *callbackData = nullptr;
    // The query owns its file-infos.
    std::vector<std::unique_ptr<gnsdk_musicidfile_fileinfo_handle_s>> fileinfos;
};

namespace {

gnsdk_manager_handle_s g_manager{};

// Users the library gave up on without releasing stay reachable here: the
// engine keeps them, not the library.
std::set<gnsdk_user_handle_s *> &liveUserHandles() {
    static std::set<gnsdk_user_handle_s *> instance;
    return instance;
}

struct LastError {
    gnsdk_error_info_t info{GNSDK_SUCCESS, "", "", ""};
    std::string description;
    std::string api;
};
thread_local LastError t_lastError;

// Logs the call; returns the scripted error for it, or GNSDK_SUCCESS.
gnsdk_error_t enter(const char *name, const std::string &key = std::string(),
                    const std::string &detail = std::string()) {
    std::lock_guard lock(fakesdk::mutex());
    State &s = state();
    s.calls.push_back(std::string(name) + "(" + detail + ")");
    gnsdk_error_t code = GNSDK_SUCCESS;
    for (const std::string &op : {std::string(name), std::string(name) + ":" + key}) {
        const auto rule = s.failures.find(op);
        const int count = ++s.counters[op];
        if (rule != s.failures.end() && (rule->second.nth == 0 || rule->second.nth == count)) {
            code = rule->second.code;
        }
        if (key.empty()) {
            break;
        }
    }
    if (code != GNSDK_SUCCESS) {
        t_lastError.description = std::string("scripted failure of ") + name;
        t_lastError.api = name;
        t_lastError.info = {code, t_lastError.description.c_str(), t_lastError.api.c_str(), "fake"};
    }
    return code;
}

gnsdk_error_t failWith(const char *name, gnsdk_error_t code, const char *description) {
    t_lastError.description = description;
    t_lastError.api = name;
    t_lastError.info = {code, t_lastError.description.c_str(), t_lastError.api.c_str(), "fake"};
    return code;
}

char *newString(const std::string &text) {
    std::lock_guard lock(fakesdk::mutex());
    ++state().liveStrings;
    return strdup(text.c_str());
}

gnsdk_gdo_handle_t newGdo(NodePtr node) {
    std::lock_guard lock(fakesdk::mutex());
    ++state().liveGdos;
    return new gnsdk_gdo_handle_s{std::move(node), true};
}

FileInfoRecord *record(gnsdk_musicidfile_fileinfo_handle_t fileinfo) {
    return fileinfo == nullptr ? nullptr : &state().fileinfos.at(fileinfo->record);
}

std::size_t countChildren(const Node &node, const std::string &key) {
    std::size_t count = 0;
    for (const auto &child : node.children) {
        count += child.first == key ? 1 : 0;
    }
    return count;
}

NodePtr nthChild(const Node &node, const std::string &key, std::size_t ordinal) {
    std::size_t seen = 0;
    for (const auto &child : node.children) {
        if (child.first == key && ++seen == ordinal) {
            return child.second;
        }
    }
    return nullptr;
}

} // namespace

extern "C" {

// An engine that resolves relative paths of its initialisation data against
// a folder given by the library; built without it, the stand-in is one of
// the engines that do not.
#ifndef FAKESDK_WITHOUT_INIT_FOLDER
gnsdk_error_t gnsdk_manager_set_init_folder(gnsdk_cstr_t folder) {
    return enter(__func__, "", folder != nullptr ? folder : "");
}
#endif

gnsdk_error_t gnsdk_manager_initialize(gnsdk_manager_handle_t *p_manager_handle,
                                       gnsdk_cstr_t init_data, gnsdk_size_t init_data_size) {
    const gnsdk_error_t code = enter(__func__, "", init_data != nullptr ? init_data : "");
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (p_manager_handle == nullptr || init_data == nullptr || init_data_size == 0) {
        return failWith(__func__, SDKMGRERR_InvalidArg, "no initialisation data");
    }
    *p_manager_handle = &g_manager;
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_dsp_initialize(gnsdk_manager_handle_t) {
    return enter(__func__);
}
gnsdk_error_t gnsdk_musicidfile_initialize(gnsdk_manager_handle_t) {
    return enter(__func__);
}
gnsdk_error_t gnsdk_musicidfile_shutdown(void) {
    return enter(__func__);
}
gnsdk_error_t gnsdk_dsp_shutdown(void) {
    return enter(__func__);
}
gnsdk_error_t gnsdk_manager_shutdown(void) {
    return enter(__func__);
}

const gnsdk_error_info_t *gnsdk_manager_error_info(void) {
    return &t_lastError.info;
}

gnsdk_error_t gnsdk_manager_user_create_new(gnsdk_cstr_t client_id, gnsdk_cstr_t client_tag,
                                            gnsdk_cstr_t app_version,
                                            gnsdk_user_handle_t *p_user_handle) {
    const gnsdk_error_t code = enter(__func__, "", app_version != nullptr ? app_version : "");
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (client_id == nullptr || client_tag == nullptr || p_user_handle == nullptr) {
        return failWith(__func__, SDKMGRERR_InvalidArg, "missing credentials");
    }
    std::lock_guard lock(fakesdk::mutex());
    const int serial = ++state().usersCreated;
    ++state().liveUsers;
    *p_user_handle = new gnsdk_user_handle_s{std::string("fakeuser:") + client_id + ":" +
                                             client_tag + ":" + std::to_string(serial)};
    liveUserHandles().insert(*p_user_handle);
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_user_create(gnsdk_cstr_t serialized_user,
                                        gnsdk_user_handle_t *p_user_handle) {
    const gnsdk_error_t code =
        enter(__func__, "", serialized_user != nullptr ? serialized_user : "");
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (serialized_user == nullptr || std::strncmp(serialized_user, "fakeuser:", 9) != 0) {
        return failWith(__func__, SDKMGRERR_InvalidFormat, "serialized user not accepted");
    }
    std::lock_guard lock(fakesdk::mutex());
    ++state().liveUsers;
    *p_user_handle = new gnsdk_user_handle_s{serialized_user};
    liveUserHandles().insert(*p_user_handle);
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_user_option_set(gnsdk_user_handle_t user_handle,
                                            gnsdk_cstr_t option_key, gnsdk_cstr_t option_value) {
    const std::string key = option_key != nullptr ? option_key : "";
    const gnsdk_error_t code =
        enter(__func__, key, key + "=" + (option_value != nullptr ? option_value : ""));
    if (code == GNSDK_SUCCESS && user_handle == nullptr) {
        return failWith(__func__, SDKMGRERR_HandleObjectInvalid, "no user");
    }
    return code;
}

gnsdk_error_t gnsdk_manager_user_serialize(gnsdk_user_handle_t user_handle,
                                           gnsdk_str_t *p_serialized_user) {
    const gnsdk_error_t code = enter(__func__);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (user_handle == nullptr || p_serialized_user == nullptr) {
        return failWith(__func__, SDKMGRERR_InvalidArg, "no user");
    }
    *p_serialized_user = newString(user_handle->text);
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_user_release(gnsdk_user_handle_t user_handle,
                                         gnsdk_str_t *p_serialized_user) {
    const gnsdk_error_t code = enter(__func__);
    if (p_serialized_user != nullptr) {
        *p_serialized_user = nullptr;
    }
    if (user_handle == nullptr) {
        return code != GNSDK_SUCCESS ? code
                                     : failWith(__func__, SDKMGRERR_HandleObjectInvalid, "no user");
    }
    const bool handBack = code == GNSDK_SUCCESS || state().releaseTextOnFailure;
    if (handBack && p_serialized_user != nullptr) {
        *p_serialized_user = newString(user_handle->text);
    }
    {
        std::lock_guard lock(fakesdk::mutex());
        --state().liveUsers;
        liveUserHandles().erase(user_handle);
    }
    delete user_handle;
    return code;
}

gnsdk_error_t gnsdk_manager_string_free(gnsdk_str_t text) {
    enter(__func__);
    if (text != nullptr) {
        std::lock_guard lock(fakesdk::mutex());
        --state().liveStrings;
        std::free(text);
    }
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_locale_load(gnsdk_cstr_t locale_group, gnsdk_cstr_t language,
                                        gnsdk_cstr_t region, gnsdk_cstr_t descriptor,
                                        gnsdk_user_handle_t user_handle, gnsdk_status_callback_fn,
                                        gnsdk_void_t *, gnsdk_locale_handle_t *p_locale_handle) {
    const std::string detail = std::string(locale_group ? locale_group : "") + "," +
                               (language ? language : "") + "," + (region ? region : "null") + "," +
                               (descriptor ? descriptor : "");
    const gnsdk_error_t code = enter(__func__, "", detail);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (user_handle == nullptr || p_locale_handle == nullptr) {
        return failWith(__func__, SDKMGRERR_InvalidArg, "no user");
    }
    std::lock_guard lock(fakesdk::mutex());
    ++state().liveLocales;
    *p_locale_handle = new gnsdk_locale_handle_s{0};
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_locale_set_group_default(gnsdk_locale_handle_t) {
    return enter(__func__);
}

gnsdk_error_t gnsdk_manager_locale_release(gnsdk_locale_handle_t locale_handle) {
    enter(__func__);
    if (locale_handle != nullptr) {
        std::lock_guard lock(fakesdk::mutex());
        --state().liveLocales;
        delete locale_handle;
    }
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_logging_enable(gnsdk_cstr_t log_file_path, gnsdk_uint16_t package_id,
                                           gnsdk_uint32_t filter_mask, gnsdk_uint32_t options_mask,
                                           gnsdk_uint64_t max_size, gnsdk_bool_t b_archive) {
    const std::string detail = std::string(log_file_path ? log_file_path : "") + "," +
                               std::to_string(package_id) + "," + std::to_string(filter_mask) +
                               "," + std::to_string(options_mask) + "," + std::to_string(max_size) +
                               "," + std::to_string(b_archive);
    const gnsdk_error_t code = enter(__func__, "", detail);
    if (code == GNSDK_SUCCESS) {
        std::lock_guard lock(fakesdk::mutex());
        state().logPath = log_file_path ? log_file_path : "";
    }
    return code;
}

gnsdk_error_t gnsdk_manager_list_retrieve(gnsdk_cstr_t list_type, gnsdk_cstr_t, gnsdk_cstr_t,
                                          gnsdk_cstr_t, gnsdk_user_handle_t,
                                          gnsdk_status_callback_fn, gnsdk_void_t *,
                                          gnsdk_list_handle_t *p_list_handle) {
    const std::string type = list_type != nullptr ? list_type : "";
    const gnsdk_error_t code = enter(__func__, type);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    NodePtr root = Node::make();
    NodePtr top = Node::make();
    top->value("display", type + " top").child("element", Node::make());
    top->children.back().second->value("display", type + " child");
    root->child("element", top);
    *p_list_handle = new gnsdk_list_handle_s{root};
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_list_get_element_count(gnsdk_list_handle_t list_handle, gnsdk_uint32_t,
                                                   gnsdk_uint32_t *p_count) {
    const gnsdk_error_t code = enter(__func__);
    if (code == GNSDK_SUCCESS) {
        *p_count = static_cast<gnsdk_uint32_t>(countChildren(*list_handle->root, "element"));
    }
    return code;
}

gnsdk_error_t gnsdk_manager_list_get_element(gnsdk_list_handle_t list_handle, gnsdk_uint32_t,
                                             gnsdk_uint32_t index,
                                             gnsdk_list_element_handle_t *p_element) {
    const gnsdk_error_t code = enter(__func__);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    NodePtr node = nthChild(*list_handle->root, "element", index + 1);
    if (node == nullptr) {
        return failWith(__func__, SDKMGRERR_NotFound, "no such element");
    }
    *p_element = new gnsdk_list_element_handle_s{node};
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_list_element_get_display_string(gnsdk_list_element_handle_t element,
                                                            gnsdk_cstr_t *p_display_string) {
    enter(__func__);
    *p_display_string = element->node->values.at(0).second.c_str();
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_list_element_get_child_count(gnsdk_list_element_handle_t element,
                                                         gnsdk_uint32_t *p_count) {
    enter(__func__);
    *p_count = static_cast<gnsdk_uint32_t>(countChildren(*element->node, "element"));
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_list_element_get_child(gnsdk_list_element_handle_t element,
                                                   gnsdk_uint32_t index,
                                                   gnsdk_list_element_handle_t *p_child) {
    enter(__func__);
    NodePtr node = nthChild(*element->node, "element", index + 1);
    if (node == nullptr) {
        return failWith(__func__, SDKMGRERR_NotFound, "no such element");
    }
    *p_child = new gnsdk_list_element_handle_s{node};
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_list_element_release(gnsdk_list_element_handle_t element) {
    delete element;
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_list_release(gnsdk_list_handle_t list_handle) {
    delete list_handle;
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_musicidfile_query_create(gnsdk_user_handle_t user_handle,
                                             const gnsdk_musicidfile_callbacks_t *callbacks,
                                             gnsdk_void_t *callback_data,
                                             gnsdk_musicidfile_query_handle_t *p_query_handle) {
    const gnsdk_error_t code = enter(__func__);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (user_handle == nullptr) {
        return failWith(__func__, SDKMGRERR_HandleObjectInvalid, "no user");
    }
    auto *query = new gnsdk_musicidfile_query_handle_s();
    if (callbacks != nullptr) {
        query->callbacks = *callbacks;
    }
    query->callbackData = callback_data;
    std::lock_guard lock(fakesdk::mutex());
    ++state().liveQueries;
    *p_query_handle = query;
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_musicidfile_query_option_set(gnsdk_musicidfile_query_handle_t,
                                                 gnsdk_cstr_t option_key,
                                                 gnsdk_cstr_t option_value) {
    const std::string key = option_key != nullptr ? option_key : "";
    return enter(__func__, key, key + "=" + (option_value != nullptr ? option_value : ""));
}

gnsdk_error_t
gnsdk_musicidfile_query_fileinfo_create(gnsdk_musicidfile_query_handle_t query_handle,
                                        gnsdk_cstr_t unique_ident,
                                        const gnsdk_musicidfile_callbacks_t *, gnsdk_void_t *,
                                        gnsdk_musicidfile_fileinfo_handle_t *p_fileinfo) {
    const std::string ident = unique_ident != nullptr ? unique_ident : "";
    const gnsdk_error_t code = enter(__func__, ident, ident);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (query_handle == nullptr || unique_ident == nullptr) {
        return failWith(__func__, MIDFERR_InvalidArg, "no query or identifier");
    }
    std::lock_guard lock(fakesdk::mutex());
    FileInfoRecord entry;
    entry.ident = ident;
    state().fileinfos.push_back(entry);
    query_handle->fileinfos.push_back(std::make_unique<gnsdk_musicidfile_fileinfo_handle_s>(
        gnsdk_musicidfile_fileinfo_handle_s{state().fileinfos.size() - 1}));
    *p_fileinfo = query_handle->fileinfos.back().get();
    return GNSDK_SUCCESS;
}

gnsdk_error_t
gnsdk_musicidfile_query_fileinfo_remove(gnsdk_musicidfile_query_handle_t query_handle,
                                        gnsdk_musicidfile_fileinfo_handle_t fileinfo) {
    const gnsdk_error_t code = enter(__func__);
    if (fileinfo != nullptr && query_handle != nullptr) {
        std::lock_guard lock(fakesdk::mutex());
        record(fileinfo)->removed = true;
        auto &owned = query_handle->fileinfos;
        for (auto it = owned.begin(); it != owned.end(); ++it) {
            if (it->get() == fileinfo) {
                owned.erase(it);
                break;
            }
        }
    }
    return code;
}

gnsdk_error_t gnsdk_musicidfile_fileinfo_metadata_set(gnsdk_musicidfile_fileinfo_handle_t fileinfo,
                                                      gnsdk_cstr_t metadata_key,
                                                      gnsdk_cstr_t metadata_value) {
    const std::string key = metadata_key != nullptr ? metadata_key : "";
    const std::string value = metadata_value != nullptr ? metadata_value : "";
    const gnsdk_error_t code = enter(__func__, key, key + "=" + value);
    if (code == GNSDK_SUCCESS) {
        std::lock_guard lock(fakesdk::mutex());
        record(fileinfo)->metadata.emplace_back(key, value);
    }
    return code;
}

gnsdk_error_t gnsdk_musicidfile_fileinfo_fingerprint_begin(
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, gnsdk_uint32_t audio_sample_rate,
    gnsdk_uint32_t audio_sample_size_bits, gnsdk_uint32_t audio_channels) {
    const gnsdk_error_t code = enter(__func__);
    if (code == GNSDK_SUCCESS) {
        std::lock_guard lock(fakesdk::mutex());
        FileInfoRecord *entry = record(fileinfo);
        entry->sampleRate = audio_sample_rate;
        entry->bitsPerSample = audio_sample_size_bits;
        entry->channels = audio_channels;
    }
    return code;
}

gnsdk_error_t gnsdk_musicidfile_fileinfo_fingerprint_write(
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, const gnsdk_void_t *audio_data,
    gnsdk_size_t audio_data_size, gnsdk_bool_t *pb_complete) {
    const gnsdk_error_t code = enter(__func__);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    std::lock_guard lock(fakesdk::mutex());
    FileInfoRecord *entry = record(fileinfo);
    entry->bytesWritten += audio_data_size;
    ++entry->writes;
    if (audio_data_size >= 2) {
        std::memcpy(&entry->firstSample, audio_data, sizeof(int16_t));
        // Touch the last byte too, so a short buffer shows up under ASan.
        volatile unsigned char last =
            static_cast<const unsigned char *>(audio_data)[audio_data_size - 1];
        (void)last;
    }
    if (pb_complete != nullptr && entry->bytesWritten >= state().bytesForCompleteFingerprint) {
        *pb_complete = GNSDK_TRUE;
    }
    return GNSDK_SUCCESS;
}

gnsdk_error_t
gnsdk_musicidfile_fileinfo_fingerprint_end(gnsdk_musicidfile_fileinfo_handle_t fileinfo) {
    const gnsdk_error_t code = enter(__func__);
    if (code == GNSDK_SUCCESS) {
        std::lock_guard lock(fakesdk::mutex());
        record(fileinfo)->fingerprintEnded = true;
    }
    return code;
}

gnsdk_error_t gnsdk_musicidfile_query_do_libraryid(gnsdk_musicidfile_query_handle_t,
                                                   gnsdk_uint32_t query_flags) {
    const gnsdk_error_t code = enter(__func__, "", std::to_string(query_flags));
    std::lock_guard lock(fakesdk::mutex());
    state().lastQueryFlags = query_flags;
    return code;
}

gnsdk_error_t gnsdk_musicidfile_query_do_trackid(gnsdk_musicidfile_query_handle_t,
                                                 gnsdk_uint32_t query_flags) {
    const gnsdk_error_t code = enter(__func__, "", std::to_string(query_flags));
    std::lock_guard lock(fakesdk::mutex());
    state().lastQueryFlags = query_flags;
    return code;
}

gnsdk_error_t gnsdk_musicidfile_query_wait_for_complete(gnsdk_musicidfile_query_handle_t query,
                                                        gnsdk_uint32_t timeout_ms,
                                                        gnsdk_error_t *p_complete_error) {
    const gnsdk_error_t code = enter(__func__, "", std::to_string(timeout_ms));
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    std::vector<NodePtr> responses;
    bool ownThread = true;
    {
        std::lock_guard lock(fakesdk::mutex());
        std::vector<FileInfoRecord> live;
        for (const FileInfoRecord &entry : state().fileinfos) {
            if (!entry.removed) {
                live.push_back(entry);
            }
        }
        if (state().responder) {
            responses = state().responder(live);
        } else {
            for (const FileInfoRecord &entry : live) {
                responses.push_back(defaultResponse(entry));
            }
        }
        ownThread = state().callbackOnOwnThread;
    }
    auto deliver = [query, &responses] {
        const auto total = static_cast<gnsdk_uint32_t>(responses.size());
        for (gnsdk_uint32_t i = 0; i < total; ++i) {
            {
                std::lock_guard lock(fakesdk::mutex());
                state().callbackThreads.push_back(std::this_thread::get_id());
            }
            gnsdk_gdo_handle_s response{responses[i], false};
            gnsdk_bool_t abort = GNSDK_FALSE;
            if (query->callbacks.callback_status != nullptr) {
                query->callbacks.callback_status(query->callbackData, query, nullptr,
                                                 gnsdk_musicidfile_status_fileinfo_query, i + 1,
                                                 total, &abort);
            }
            if (query->callbacks.callback_result_available != nullptr) {
                query->callbacks.callback_result_available(query->callbackData, query, &response,
                                                           i + 1, total, &abort);
            }
        }
    };
    if (ownThread) {
        std::thread worker(deliver);
        worker.join();
    } else {
        deliver();
    }
    if (p_complete_error != nullptr) {
        std::lock_guard lock(fakesdk::mutex());
        *p_complete_error = state().completeError;
    }
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_musicidfile_query_release(gnsdk_musicidfile_query_handle_t query_handle) {
    const gnsdk_error_t code = enter(__func__);
    if (query_handle != nullptr) {
        std::lock_guard lock(fakesdk::mutex());
        --state().liveQueries;
        delete query_handle;
    }
    return code;
}

gnsdk_error_t gnsdk_manager_gdo_child_count(gnsdk_gdo_handle_t gdo, gnsdk_cstr_t child_key,
                                            gnsdk_uint32_t *p_count) {
    const std::string key = child_key != nullptr ? child_key : "";
    const gnsdk_error_t code = enter(__func__, key, key);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (gdo == nullptr || p_count == nullptr) {
        return failWith(__func__, SDKMGRERR_InvalidArg, "no data object");
    }
    *p_count = static_cast<gnsdk_uint32_t>(countChildren(*gdo->node, key));
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_gdo_child_get(gnsdk_gdo_handle_t gdo, gnsdk_cstr_t child_key,
                                          gnsdk_uint32_t ordinal, gnsdk_gdo_handle_t *p_child_gdo) {
    const std::string key = child_key != nullptr ? child_key : "";
    const gnsdk_error_t code = enter(__func__, key, key + "#" + std::to_string(ordinal));
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (gdo == nullptr || p_child_gdo == nullptr || ordinal == 0) {
        return failWith(__func__, SDKMGRERR_InvalidArg, "bad child request");
    }
    NodePtr child = nthChild(*gdo->node, key, ordinal);
    if (child == nullptr) {
        return failWith(__func__, SDKMGRERR_NotFound, "no such child");
    }
    *p_child_gdo = newGdo(child);
    return GNSDK_SUCCESS;
}

gnsdk_error_t gnsdk_manager_gdo_value_get(gnsdk_gdo_handle_t gdo, gnsdk_cstr_t value_key,
                                          gnsdk_uint32_t ordinal, gnsdk_cstr_t *p_value) {
    const std::string key = value_key != nullptr ? value_key : "";
    const gnsdk_error_t code = enter(__func__, key, key);
    if (code != GNSDK_SUCCESS) {
        return code;
    }
    if (gdo == nullptr || p_value == nullptr || ordinal == 0) {
        return failWith(__func__, SDKMGRERR_InvalidArg, "bad value request");
    }
    std::size_t seen = 0;
    for (const auto &entry : gdo->node->values) {
        if (entry.first == key && ++seen == ordinal) {
            *p_value = entry.second.c_str();
            return GNSDK_SUCCESS;
        }
    }
    return failWith(__func__, SDKMGRERR_NotFound, "no such value");
}

gnsdk_error_t gnsdk_manager_gdo_release(gnsdk_gdo_handle_t gdo) {
    enter(__func__);
    if (gdo != nullptr && gdo->counted) {
        std::lock_guard lock(fakesdk::mutex());
        --state().liveGdos;
        delete gdo;
    }
    return GNSDK_SUCCESS;
}

} // extern "C"
