#include "Gnhandler.h"

#include "EngineCalls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const char *const ClientAppVersion = "0.98";
} // namespace

void CopyToUserBuffer(char *buffer, int32_t size, const char *text) {
    if (buffer == nullptr || size <= 0 || text == nullptr) {
        return;
    }
    const std::size_t length = strnlen(text, static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    buffer[size] = '\0';
}

Gnhandler::~Gnhandler() {
    // A call that gave up before Shutdown still owns its credential copies.
    std::free(clientId);
    std::free(clientTag);
    FreeFileQueryData();
}

// A second user option ("-c" then "-C") replaces the first user: release the
// first one instead of losing its handle.
void Gnhandler::ReleaseUser() {
    if (userHandle == nullptr) {
        return;
    }
    gnsdk_str_t text = nullptr;
    gnsdk_manager_user_release(userHandle, &text);
    if (text != nullptr) {
        gnsdk_manager_string_free(text);
    }
    userHandle = nullptr;
}

int32_t Gnhandler::Init(const char *clientIdText, const char *clientTagText, const char *initData,
                        const char *initFolder) {
    if (clientIdText == nullptr || clientTagText == nullptr || initData == nullptr ||
        initData[0] == '\0') {
        return -1;
    }
    if (initFolder != nullptr) {
        if (const SetInitFolderCall setInitFolder = FindSetInitFolder()) {
            setInitFolder(initFolder);
        }
    }
    int32_t status = 0;
    if (gnsdk_manager_initialize(&managerHandle, initData, std::strlen(initData)) != 0) {
        status = -1;
    } else if (gnsdk_dsp_initialize(managerHandle) != 0) {
        status = -2;
    } else if (gnsdk_musicidfile_initialize(managerHandle) != 0) {
        status = -4;
    }
    if (status != 0) {
        PrintError("gnhandler_init", status);
        return status;
    }
    std::free(clientId);
    std::free(clientTag);
    clientId = strdup(clientIdText);
    clientTag = strdup(clientTagText);
    if (clientId == nullptr || clientTag == nullptr) {
        return -1;
    }
    return 0;
}

int32_t Gnhandler::InitLogging(const char *logPath) {
    if (gnsdk_manager_logging_enable(logPath, GNSDK_LOG_PKG_ALL, GNSDK_LOG_LEVEL_ALL,
                                     GNSDK_LOG_OPTION_ALL, 0, GNSDK_TRUE) != 0) {
        PrintError("InitLogging", 0);
    }
    return 0;
}

int32_t Gnhandler::InitLocale() {
    gnsdk_locale_handle_t locale = nullptr;
    int32_t status = 0;
    if (gnsdk_manager_locale_load(GNSDK_LOCALE_GROUP_MUSIC, GNSDK_LANG_ENGLISH, nullptr,
                                  GNSDK_DESCRIPTOR_DETAILED, userHandle, nullptr, nullptr,
                                  &locale) != 0) {
        status = -1;
    } else if (gnsdk_manager_locale_set_group_default(locale) != 0) {
        status = -2;
    }
    if (status != 0) {
        PrintError("gnhandler_init_locale", status);
    }
    if (locale != nullptr) {
        gnsdk_manager_locale_release(locale);
    }
    return status;
}

int32_t Gnhandler::CreateUser(char *buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) {
        std::fprintf(stderr, "No buffer passed for user-create.\n\n");
        return -1;
    }
    ReleaseUser();
    int32_t status = 0;
    gnsdk_str_t text = nullptr;
    if (gnsdk_manager_user_create_new(clientId, clientTag, ClientAppVersion, &userHandle) != 0) {
        status = -1;
    } else if (gnsdk_manager_user_option_set(userHandle, GNSDK_USER_OPTION_NETWORK_LOADBALANCE,
                                             GNSDK_VALUE_TRUE) != 0) {
        status = -2;
    } else if (gnsdk_manager_user_serialize(userHandle, &text) != 0) {
        status = -3;
    }
    if (status != 0) {
        PrintError("gnhandler_create_user", status);
        return status;
    }
    if (InitLocale() != 0) {
        PrintError("gnhandler_create_user:init_locale", 0);
        if (text != nullptr) {
            gnsdk_manager_string_free(text);
        }
        return -1;
    }
    if (text != nullptr) {
        CopyToUserBuffer(buffer, size, text);
        gnsdk_manager_string_free(text);
    }
    return 0;
}

int32_t Gnhandler::LoadUser(const char *serializedUser) {
    if (serializedUser == nullptr) {
        std::fprintf(stderr, "No user data passed for user-load.\n\n");
        return -1;
    }
    ReleaseUser();
    int32_t status = 0;
    if (gnsdk_manager_user_create(serializedUser, &userHandle) != 0) {
        status = -1;
    } else if (gnsdk_manager_user_option_set(userHandle, GNSDK_USER_OPTION_NETWORK_LOADBALANCE,
                                             GNSDK_VALUE_TRUE) != 0) {
        status = -2;
    }
    if (status != 0) {
        std::fprintf(stderr, "Serialized User passed to load_user:\n%s\n", serializedUser);
        PrintError("gnhandler_load_user", status);
        return -1;
    }
    if (InitLocale() != 0) {
        PrintError("gnhandler_create_user:init_locale", 0);
        return -1;
    }
    return 0;
}

int32_t Gnhandler::Shutdown(char *buffer, int32_t size) {
    int32_t status = 0;
    gnsdk_str_t text = nullptr;
    if (gnsdk_manager_user_release(userHandle, &text) != 0) {
        status = -1;
        PrintError("gnhandler_shutdown", status);
    }
    userHandle = nullptr;
    if (text != nullptr) {
        CopyToUserBuffer(buffer, size, text);
        gnsdk_manager_string_free(text);
    }
    if (status == 0 && gnsdk_musicidfile_shutdown() != 0) {
        status = -2;
        PrintError("gnhandler_shutdown", status);
    }
    if (status == 0 && gnsdk_dsp_shutdown() != 0) {
        status = -4;
        PrintError("gnhandler_shutdown", status);
    }
    if (status == 0 && gnsdk_manager_shutdown() != 0) {
        status = -5;
        PrintError("gnhandler_shutdown", status);
    }
    std::free(clientId);
    std::free(clientTag);
    clientId = nullptr;
    clientTag = nullptr;
    FreeFileQueryData();
    return status;
}

void Gnhandler::PrintError(const char *tag, int32_t number) {
    const gnsdk_error_info_t *info = gnsdk_manager_error_info();
    const gnsdk_error_t code = info != nullptr ? info->error_code : 0;
    const char *description =
        info != nullptr && info->error_description != nullptr ? info->error_description : "";
    std::fprintf(stderr, "GNSDK Error @ %s:%d: [0x%08x] %s\n", tag, number,
                 static_cast<unsigned>(code), description);
}

const char *Gnhandler::ReadValue(gnsdk_gdo_handle_t gdo, const char *key, uint32_t ordinal) {
    if (gdo == nullptr) {
        return nullptr;
    }
    gnsdk_cstr_t value = nullptr;
    const gnsdk_error_t result = gnsdk_manager_gdo_value_get(gdo, key, ordinal, &value);
    switch (result) {
    case SDKMGRERR_NotInited:
        std::fputs("SDKMGRERR_NotInited", stdout);
        break;
    case SDKMGRERR_InvalidArg:
        std::fputs("SDKMGRERR_InvalidArg", stdout);
        break;
    case SDKMGRERR_HandleObjectInvalid:
        std::fputs("SDKMGRERR_HandleObjectInvalid", stdout);
        break;
    case SDKMGRERR_HandleObjectWrongType:
        std::fputs("SDKMGRERR_HandleObjectWrongType", stdout);
        break;
    case SDKMGRERR_NotFound:
        std::fputs("SDKMGRERR_NotFound ", stdout);
        break;
    default:
        break;
    }
    return result == GNSDK_SUCCESS ? value : nullptr;
}
