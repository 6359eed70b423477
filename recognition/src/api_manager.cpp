// Manager entry points: start and stop, errors, users, locale and logging.
#include "digest.h"
#include "engine.h"
#include "handles.h"
#include "last_error.h"

#include <cstdlib>
#include <cstring>
#include <new>

using namespace recog;

namespace {

gnsdk_manager_handle_s g_manager;

char *copyText(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (p)
        std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// Credentials the deployment restricts users to, if any.
bool credentialsAllowed(const UserToken &t) {
    Engine &e = engine();
    std::lock_guard lock(e.mutex);
    return (e.config.clientId.empty() || e.config.clientId == t.clientId) &&
           (e.config.clientTag.empty() || e.config.clientTag == t.clientTag);
}

gnsdk_error_t newUserHandle(const UserToken &token, gnsdk_user_handle_t *out) {
    auto *h = new (std::nothrow) gnsdk_user_handle_s;
    if (!h)
        return fail(SDKMGRERR_NoMemory, "out of memory", "gnsdk_manager_user_create");
    h->token = token;
    handles().add(h, HandleKind::User);
    *out = h;
    return GNSDK_SUCCESS;
}

} // namespace

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_set_init_folder(gnsdk_cstr_t folder) {
    return guarded("gnsdk_manager_set_init_folder", [&]() -> gnsdk_error_t {
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        e.baseFolder = folder ? folder : "";
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_initialize(gnsdk_manager_handle_t *p_manager_handle,
                                                    gnsdk_cstr_t init_data,
                                                    gnsdk_size_t init_data_size) {
    return guarded("gnsdk_manager_initialize", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_initialize";
        try {
            if (!p_manager_handle || !init_data)
                return fail(SDKMGRERR_InvalidArg, "no handle pointer or no initialisation data",
                            api);
            Engine &e = engine();
            std::lock_guard lock(e.mutex);
            if (e.openQueries > 0)
                return fail(SDKMGRERR_Busy, "a query is still open", api);
            EngineConfig config;
            std::string error;
            if (!EngineConfig::parse(std::string_view(init_data, init_data_size), e.baseFolder,
                                     config, error))
                return fail(SDKMGRERR_InitFailed, error, api);
            std::shared_ptr<Catalog> cat;
            std::string userKey;
            if (!config.catalogPath.empty()) {
                cat = Catalog::open(config.catalogPath, false, error);
                if (!cat)
                    return fail(SDKMGRERR_InitFailed, error, api);
                userKey = cat->userKey();
            } else {
                // Users made for one lookup service load again with it (their
                // credentials are what the service checks); a user of
                // another service or catalogue is refused and made anew.
                const auto k = sha256("lookup users\n" + config.lookupUrl);
                userKey = toHex(k.data(), k.size(), false);
            }
            // Starting again (after a partial start, for instance) replaces the
            // previous catalogue and settings.
            e.config = config;
            e.catalog = std::move(cat);
            e.userKey = userKey;
            e.managerUp = true;
            handles().add(&g_manager, HandleKind::Manager);
            *p_manager_handle = &g_manager;
            e.log.write(LogLevel::Info,
                        config.catalogPath.empty()
                            ? "manager started with lookup service " + config.lookupUrl
                            : "manager started with catalogue " + config.catalogPath);
            return GNSDK_SUCCESS;
        } catch (...) {
            return fail(SDKMGRERR_Unknown, "internal failure", api);
        }
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_dsp_initialize(gnsdk_manager_handle_t manager_handle) {
    return guarded("gnsdk_dsp_initialize", [&]() -> gnsdk_error_t {
        if (const auto rc =
                checkHandle(manager_handle, HandleKind::Manager, "gnsdk_dsp_initialize", "dsp"))
            return rc;
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        e.dspUp = true;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_initialize(gnsdk_manager_handle_t manager_handle) {
    return guarded("gnsdk_musicidfile_initialize", [&]() -> gnsdk_error_t {
        if (const auto rc = checkHandle(manager_handle, HandleKind::Manager,
                                        "gnsdk_musicidfile_initialize", "musicidfile"))
            return rc;
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        if (!e.dspUp)
            return fail(MIDFERR_NotInited, "the fingerprint module is not initialised",
                        "gnsdk_musicidfile_initialize", "musicidfile");
        e.fileQueryUp = true;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_shutdown(void) {
    return guarded("gnsdk_musicidfile_shutdown", [&]() -> gnsdk_error_t {
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        if (!e.fileQueryUp)
            return fail(MIDFERR_NotInited, "the file query module is not initialised",
                        "gnsdk_musicidfile_shutdown", "musicidfile");
        if (e.openQueries > 0)
            return fail(MIDFERR_Busy, "a query is still open", "gnsdk_musicidfile_shutdown",
                        "musicidfile");
        e.fileQueryUp = false;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_dsp_shutdown(void) {
    return guarded("gnsdk_dsp_shutdown", [&]() -> gnsdk_error_t {
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        if (!e.dspUp)
            return fail(DSPERR_NotInited, "the fingerprint module is not initialised",
                        "gnsdk_dsp_shutdown", "dsp");
        e.dspUp = false;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_shutdown(void) {
    return guarded("gnsdk_manager_shutdown", [&]() -> gnsdk_error_t {
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        if (!e.managerUp)
            return fail(SDKMGRERR_NotInited, "the manager is not initialised",
                        "gnsdk_manager_shutdown");
        if (e.openQueries > 0)
            return fail(SDKMGRERR_Busy, "a query is still open", "gnsdk_manager_shutdown");
        e.log.write(LogLevel::Info, "manager shut down");
        e.managerUp = e.dspUp = e.fileQueryUp = false;
        e.catalog.reset();
        e.userKey.clear();
        e.log.disable();
        handles().remove(&g_manager);
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT const gnsdk_error_info_t *gnsdk_manager_error_info(void) {
    return lastError();
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_user_create_new(gnsdk_cstr_t client_id,
                                                         gnsdk_cstr_t client_tag,
                                                         gnsdk_cstr_t app_version,
                                                         gnsdk_user_handle_t *p_user_handle) {
    return guarded("gnsdk_manager_user_create_new", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_user_create_new";
        try {
            if (!client_id || !client_tag || !p_user_handle)
                return fail(SDKMGRERR_InvalidArg, "client ID, client tag and handle are required",
                            api);
            const std::string key = userKeyOrFail(api);
            if (key.empty())
                return lastError()->error_code;
            UserToken token;
            std::string error;
            if (!UserToken::createNew(client_id, client_tag, app_version ? app_version : "", token,
                                      error))
                return fail(SDKMGRERR_InvalidArg, error, api);
            if (!credentialsAllowed(token))
                return fail(SDKMGRERR_InvalidArg, "these credentials are not accepted here", api);
            engine().log.write(LogLevel::Info,
                               "registered a new user for client " + token.clientId);
            return newUserHandle(token, p_user_handle);
        } catch (...) {
            return fail(SDKMGRERR_Unknown, "internal failure", api);
        }
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_user_create(gnsdk_cstr_t serialized_user,
                                                     gnsdk_user_handle_t *p_user_handle) {
    return guarded("gnsdk_manager_user_create", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_user_create";
        try {
            if (!serialized_user || !p_user_handle)
                return fail(SDKMGRERR_InvalidArg, "serialised user and handle are required", api);
            const std::string key = userKeyOrFail(api);
            if (key.empty())
                return lastError()->error_code;
            UserToken token;
            std::string error;
            if (!UserToken::parse(serialized_user, key, token, error))
                return fail(SDKMGRERR_InvalidFormat, error, api);
            if (!credentialsAllowed(token))
                return fail(SDKMGRERR_InvalidArg,
                            "serialised user was made for other credentials than these", api);
            return newUserHandle(token, p_user_handle);
        } catch (...) {
            return fail(SDKMGRERR_Unknown, "internal failure", api);
        }
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_user_option_set(gnsdk_user_handle_t user_handle,
                                                         gnsdk_cstr_t option_key,
                                                         gnsdk_cstr_t option_value) {
    return guarded("gnsdk_manager_user_option_set", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_user_option_set";
        if (const auto rc = checkHandle(user_handle, HandleKind::User, api))
            return rc;
        if (!option_key || !option_value)
            return fail(SDKMGRERR_InvalidArg, "option key and value are required", api);
        const std::string key = option_key, value = option_value;
        if (key == GNSDK_USER_OPTION_NETWORK_LOADBALANCE && value != GNSDK_VALUE_TRUE &&
            value != GNSDK_VALUE_FALSE)
            return fail(SDKMGRERR_InvalidArg, "option " + key + " takes true or false", api);
        if (key.rfind("gnsdk_useroption_", 0) != 0)
            return fail(SDKMGRERR_InvalidArg, "unknown user option " + key, api);
        try {
            user_handle->options[key] = value;
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_user_serialize(gnsdk_user_handle_t user_handle,
                                                        gnsdk_str_t *p_serialized_user) {
    return guarded("gnsdk_manager_user_serialize", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_user_serialize";
        if (const auto rc = checkHandle(user_handle, HandleKind::User, api))
            return rc;
        if (!p_serialized_user)
            return fail(SDKMGRERR_InvalidArg, "no text pointer", api);
        try {
            const std::string key = userKeyOrFail(api);
            if (key.empty())
                return lastError()->error_code;
            char *text = copyText(user_handle->token.serialize(key));
            if (!text)
                return fail(SDKMGRERR_NoMemory, "out of memory", api);
            *p_serialized_user = text;
            return GNSDK_SUCCESS;
        } catch (...) {
            return fail(SDKMGRERR_Unknown, "internal failure", api);
        }
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_user_release(gnsdk_user_handle_t user_handle,
                                                      gnsdk_str_t *p_serialized_user) {
    return guarded("gnsdk_manager_user_release", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_user_release";
        if (p_serialized_user)
            *p_serialized_user = nullptr;
        if (const auto rc = checkHandle(user_handle, HandleKind::User, api))
            return rc;
        gnsdk_error_t rc = GNSDK_SUCCESS;
        if (p_serialized_user) {
            try {
                const std::string key = userKeyOrFail(api);
                if (key.empty())
                    rc = lastError()->error_code;
                else if (!(*p_serialized_user = copyText(user_handle->token.serialize(key))))
                    rc = fail(SDKMGRERR_NoMemory, "out of memory", api);
            } catch (...) {
                rc = fail(SDKMGRERR_Unknown, "internal failure", api);
            }
        }
        handles().remove(user_handle);
        delete user_handle;
        return rc;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_string_free(gnsdk_str_t text) {
    return guarded("gnsdk_manager_string_free", [&]() -> gnsdk_error_t {
        if (!text)
            return fail(SDKMGRERR_InvalidArg, "no text", "gnsdk_manager_string_free");
        std::free(text);
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_locale_load(
    gnsdk_cstr_t locale_group, gnsdk_cstr_t language, gnsdk_cstr_t /*region*/,
    gnsdk_cstr_t descriptor, gnsdk_user_handle_t user_handle, gnsdk_status_callback_fn callback,
    gnsdk_void_t *callback_data, gnsdk_locale_handle_t *p_locale_handle) {
    return guarded("gnsdk_manager_locale_load", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_locale_load";
        if (!managerUpOrFail(api))
            return lastError()->error_code;
        if (const auto rc = checkHandle(user_handle, HandleKind::User, api))
            return rc;
        if (!locale_group || !language || !p_locale_handle)
            return fail(SDKMGRERR_InvalidArg, "locale group, language and handle are required",
                        api);
        if (std::strcmp(locale_group, GNSDK_LOCALE_GROUP_MUSIC) != 0)
            return fail(SDKMGRERR_Unsupported, std::string("unknown locale group ") + locale_group,
                        api);
        if (std::strcmp(language, GNSDK_LANG_ENGLISH) != 0)
            return fail(SDKMGRERR_Unsupported,
                        std::string("the catalogue holds no descriptors in ") + language, api);
        const std::string desc = descriptor ? descriptor : GNSDK_DESCRIPTOR_DETAILED;
        if (desc != GNSDK_DESCRIPTOR_DETAILED && desc != GNSDK_DESCRIPTOR_SIMPLIFIED)
            return fail(SDKMGRERR_InvalidArg, "unknown descriptor " + desc, api);
        gnsdk_bool_t abort = GNSDK_FALSE;
        if (callback)
            callback(callback_data, gnsdk_status_begin, 0, 0, 0, &abort);
        if (abort)
            return fail(SDKMGRERR_Aborted, "locale load aborted by the caller", api);
        auto *h = new (std::nothrow) gnsdk_locale_handle_s;
        if (!h)
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        h->descriptor = desc;
        handles().add(h, HandleKind::Locale);
        if (callback)
            callback(callback_data, gnsdk_status_complete, 100, 0, 0, &abort);
        *p_locale_handle = h;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t
gnsdk_manager_locale_set_group_default(gnsdk_locale_handle_t locale_handle) {
    return guarded("gnsdk_manager_locale_set_group_default", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_locale_set_group_default";
        if (const auto rc = checkHandle(locale_handle, HandleKind::Locale, api))
            return rc;
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        e.localeDescriptor = locale_handle->descriptor;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_locale_release(gnsdk_locale_handle_t locale_handle) {
    return guarded("gnsdk_manager_locale_release", [&]() -> gnsdk_error_t {
        if (const auto rc =
                checkHandle(locale_handle, HandleKind::Locale, "gnsdk_manager_locale_release"))
            return rc;
        handles().remove(locale_handle);
        delete locale_handle;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_logging_enable(
    gnsdk_cstr_t log_file_path, gnsdk_uint16_t /*package_id*/, gnsdk_uint32_t filter_mask,
    gnsdk_uint32_t /*options_mask*/, gnsdk_uint64_t max_size, gnsdk_bool_t /*b_archive*/) {
    return guarded("gnsdk_manager_logging_enable", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_logging_enable";
        if (!log_file_path || !*log_file_path)
            return fail(SDKMGRERR_InvalidArg, "no log file path", api);
        std::string error;
        try {
            if (!engine().log.enable(log_file_path, filter_mask, max_size, error))
                return fail(SDKMGRERR_IOError, error, api);
        } catch (...) {
            return fail(SDKMGRERR_Unknown, "internal failure", api);
        }
        return GNSDK_SUCCESS;
    });
}
