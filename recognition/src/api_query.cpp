// File query entry points: file-infos, fingerprints, running and waiting.
#include "engine.h"
#include "file_query.h"
#include "last_error.h"

#include <cstring>
#include <new>

using namespace recog;

namespace {

constexpr const char *kModule = "musicidfile";
constexpr gnsdk_uint32_t kMinRate = 4000;
constexpr gnsdk_uint32_t kMaxRate = 384000;
// A query fingerprint never needs more than this much audio.
constexpr double kMaxQuerySeconds = 120.0;

gnsdk_error_t checkQuery(gnsdk_musicidfile_query_handle_t q, const char *api) {
    return checkHandle(q, HandleKind::Query, api, kModule);
}

gnsdk_error_t checkInfo(gnsdk_musicidfile_fileinfo_handle_t f, const char *api) {
    return checkHandle(f, HandleKind::FileInfo, api, kModule);
}

gnsdk_error_t busy(const char *api) {
    return fail(MIDFERR_Busy, "the query is running", api, kModule);
}

bool moduleUp(const char *api) {
    Engine &e = engine();
    std::lock_guard lock(e.mutex);
    if (!e.fileQueryUp) {
        fail(MIDFERR_NotInited, "the file query module is not initialised", api, kModule);
        return false;
    }
    return true;
}

const char *const kFileInfoKeys[] = {
    GNSDK_MUSICIDFILE_FILEINFO_VALUE_FILENAME,   GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST,
    GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMTITLE, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKNUMBER,
    GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKTITLE, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUI,
    GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUITAG};

const char *const kQueryOptions[] = {
    GNSDK_MUSICIDFILE_OPTION_ENABLE_CLASSICAL_DATA, GNSDK_MUSICIDFILE_OPTION_ENABLE_CONTENT_DATA,
    GNSDK_MUSICIDFILE_OPTION_ENABLE_EXTERNAL_IDS, GNSDK_MUSICIDFILE_OPTION_ENABLE_GLOBALIDS,
    GNSDK_MUSICIDFILE_OPTION_ENABLE_SONIC_DATA};

template <size_t N> bool known(const char *const (&names)[N], const char *key) {
    for (const char *n : names)
        if (std::strcmp(n, key) == 0)
            return true;
    return false;
}

} // namespace

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_query_create(
    gnsdk_user_handle_t user_handle, const gnsdk_musicidfile_callbacks_t *callbacks,
    gnsdk_void_t *callback_data, gnsdk_musicidfile_query_handle_t *p_query_handle) {
    return guarded("gnsdk_musicidfile_query_create", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_query_create";
        if (!moduleUp(api))
            return lastError()->error_code;
        if (const auto rc = checkHandle(user_handle, HandleKind::User, api, kModule))
            return rc;
        if (!p_query_handle)
            return fail(MIDFERR_InvalidArg, "no handle pointer", api, kModule);
        auto *q = new (std::nothrow) gnsdk_musicidfile_query_handle_s;
        if (!q)
            return fail(SDKMGRERR_NoMemory, "out of memory", api, kModule);
        if (callbacks)
            q->callbacks = *callbacks;
        q->callbackData = callback_data;
        q->clientId = user_handle->token.clientId;
        q->clientTag = user_handle->token.clientTag;
        handles().add(q, HandleKind::Query);
        {
            Engine &e = engine();
            std::lock_guard lock(e.mutex);
            ++e.openQueries;
        }
        *p_query_handle = q;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t
gnsdk_musicidfile_query_option_set(gnsdk_musicidfile_query_handle_t query_handle,
                                   gnsdk_cstr_t option_key, gnsdk_cstr_t option_value) {
    return guarded("gnsdk_musicidfile_query_option_set", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_query_option_set";
        if (const auto rc = checkQuery(query_handle, api))
            return rc;
        if (!option_key || !option_value)
            return fail(MIDFERR_InvalidArg, "option key and value are required", api, kModule);
        if (!known(kQueryOptions, option_key))
            return fail(MIDFERR_InvalidArg, std::string("unknown query option ") + option_key, api,
                        kModule);
        if (query_handle->running())
            return busy(api);
        try {
            std::lock_guard lock(query_handle->mutex);
            query_handle->options[option_key] = option_value;
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api, kModule);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_query_fileinfo_create(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_cstr_t unique_ident,
    const gnsdk_musicidfile_callbacks_t * /*callbacks*/, gnsdk_void_t * /*callback_data*/,
    gnsdk_musicidfile_fileinfo_handle_t *p_fileinfo) {
    return guarded("gnsdk_musicidfile_query_fileinfo_create", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_query_fileinfo_create";
        if (const auto rc = checkQuery(query_handle, api))
            return rc;
        if (!unique_ident || !*unique_ident || !p_fileinfo)
            return fail(MIDFERR_InvalidArg, "identifier and handle pointer are required", api,
                        kModule);
        std::lock_guard lock(query_handle->mutex);
        if (query_handle->state != gnsdk_musicidfile_query_handle_s::State::Open)
            return busy(api);
        try {
            auto info = std::make_unique<gnsdk_musicidfile_fileinfo_handle_s>();
            info->query = query_handle;
            info->ident = unique_ident;
            handles().add(info.get(), HandleKind::FileInfo);
            *p_fileinfo = info.get();
            query_handle->fileInfos.push_back(std::move(info));
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api, kModule);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_query_fileinfo_remove(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_musicidfile_fileinfo_handle_t fileinfo) {
    return guarded("gnsdk_musicidfile_query_fileinfo_remove", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_query_fileinfo_remove";
        if (const auto rc = checkQuery(query_handle, api))
            return rc;
        if (const auto rc = checkInfo(fileinfo, api))
            return rc;
        std::lock_guard lock(query_handle->mutex);
        if (fileinfo->query != query_handle)
            return fail(MIDFERR_NotFound, "the file-info belongs to another query", api, kModule);
        if (query_handle->state != gnsdk_musicidfile_query_handle_s::State::Open)
            return busy(api);
        auto &infos = query_handle->fileInfos;
        for (auto it = infos.begin(); it != infos.end(); ++it) {
            if (it->get() == fileinfo) {
                handles().remove(fileinfo);
                infos.erase(it);
                return GNSDK_SUCCESS;
            }
        }
        return fail(MIDFERR_NotFound, "no such file-info in the query", api, kModule);
    });
}

static gnsdk_error_t startQuery(gnsdk_musicidfile_query_handle_t q, bool library,
                                gnsdk_uint32_t flags, const char *api) {
    if (const auto rc = checkQuery(q, api))
        return rc;
    try {
        return q->start(library, flags, api);
    } catch (...) {
        return fail(SDKMGRERR_Unknown, "internal failure", api, kModule);
    }
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_query_do_libraryid(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_uint32_t query_flags) {
    return guarded("gnsdk_musicidfile_query_do_libraryid", [&]() -> gnsdk_error_t {
        return startQuery(query_handle, true, query_flags, "gnsdk_musicidfile_query_do_libraryid");
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_query_do_trackid(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_uint32_t query_flags) {
    return guarded("gnsdk_musicidfile_query_do_trackid", [&]() -> gnsdk_error_t {
        return startQuery(query_handle, false, query_flags, "gnsdk_musicidfile_query_do_trackid");
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_query_wait_for_complete(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_uint32_t timeout_ms,
    gnsdk_error_t *p_complete_error) {
    return guarded("gnsdk_musicidfile_query_wait_for_complete", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_query_wait_for_complete";
        if (const auto rc = checkQuery(query_handle, api))
            return rc;
        {
            std::lock_guard lock(query_handle->mutex);
            if (query_handle->state == gnsdk_musicidfile_query_handle_s::State::Open)
                return fail(MIDFERR_InvalidArg, "the query has not been started", api, kModule);
        }
        if (!query_handle->waitFor(timeout_ms))
            return fail(SDKMGRERR_Timeout, "the query did not complete in time", api, kModule);
        std::lock_guard lock(query_handle->mutex);
        if (p_complete_error)
            *p_complete_error = query_handle->completeError;
        // The failure happened on the query's worker; the caller reads it here.
        if (query_handle->completeError != GNSDK_SUCCESS && !query_handle->completeText.empty())
            fail(query_handle->completeError, query_handle->completeText, api, kModule);
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t
gnsdk_musicidfile_query_release(gnsdk_musicidfile_query_handle_t query_handle) {
    return guarded("gnsdk_musicidfile_query_release", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_query_release";
        if (const auto rc = checkQuery(query_handle, api))
            return rc;
        // Releasing a query that still runs stops it first: nothing of it may
        // outlive the handle.
        query_handle->cancel();
        handles().remove(query_handle);
        for (const auto &info : query_handle->fileInfos)
            handles().remove(info.get());
        delete query_handle;
        Engine &e = engine();
        std::lock_guard lock(e.mutex);
        --e.openQueries;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t
gnsdk_musicidfile_fileinfo_metadata_set(gnsdk_musicidfile_fileinfo_handle_t fileinfo,
                                        gnsdk_cstr_t metadata_key, gnsdk_cstr_t metadata_value) {
    return guarded("gnsdk_musicidfile_fileinfo_metadata_set", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_fileinfo_metadata_set";
        if (const auto rc = checkInfo(fileinfo, api))
            return rc;
        if (!metadata_key || !metadata_value)
            return fail(MIDFERR_InvalidArg, "key and value are required", api, kModule);
        if (!known(kFileInfoKeys, metadata_key))
            return fail(MIDFERR_InvalidArg, std::string("unknown file-info key ") + metadata_key,
                        api, kModule);
        if (fileinfo->query->running())
            return busy(api);
        try {
            fileinfo->metadata[metadata_key] = metadata_value;
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api, kModule);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_fileinfo_fingerprint_begin(
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, gnsdk_uint32_t audio_sample_rate,
    gnsdk_uint32_t audio_sample_size_bits, gnsdk_uint32_t audio_channels) {
    return guarded("gnsdk_musicidfile_fileinfo_fingerprint_begin", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_fileinfo_fingerprint_begin";
        if (const auto rc = checkInfo(fileinfo, api))
            return rc;
        {
            Engine &e = engine();
            std::lock_guard lock(e.mutex);
            if (!e.dspUp)
                return fail(DSPERR_NotInited, "the fingerprint module is not initialised", api,
                            "dsp");
        }
        if (audio_sample_size_bits != 16)
            return fail(DSPERR_Unsupported, "only 16-bit samples are supported", api, "dsp");
        if (audio_channels < 1 || audio_channels > 2)
            return fail(DSPERR_Unsupported,
                        "unsupported channel count " + std::to_string(audio_channels), api, "dsp");
        if (audio_sample_rate < kMinRate || audio_sample_rate > kMaxRate)
            return fail(DSPERR_Unsupported,
                        "unsupported sample rate " + std::to_string(audio_sample_rate) + " Hz", api,
                        "dsp");
        if (fileinfo->query->running())
            return busy(api);
        try {
            auto fp = std::make_unique<Fingerprinter>();
            std::string error;
            if (!fp->start(int(audio_sample_rate), int(audio_channels), kMaxQuerySeconds, error))
                return fail(DSPERR_InvalidArg, error, api, "dsp");
            fp->keepSignal();
            fileinfo->fingerprinter = std::move(fp);
            fileinfo->fingerprint.clear();
            fileinfo->signal.reset();
            fileinfo->fingerprintDone = false;
            fileinfo->seconds = 0;
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api, "dsp");
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_musicidfile_fileinfo_fingerprint_write(
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, const gnsdk_void_t *audio_data,
    gnsdk_size_t audio_data_size, gnsdk_bool_t *pb_complete) {
    return guarded("gnsdk_musicidfile_fileinfo_fingerprint_write", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_fileinfo_fingerprint_write";
        if (const auto rc = checkInfo(fileinfo, api))
            return rc;
        Fingerprinter *fp = fileinfo->fingerprinter.get();
        if (!fp)
            return fail(DSPERR_InvalidArg, "fingerprint_begin was not called", api, "dsp");
        if (!audio_data || audio_data_size == 0)
            return fail(DSPERR_InvalidArg, "no audio data", api, "dsp");
        const size_t frameBytes = 2 * size_t(fp->channels());
        if (audio_data_size % frameBytes != 0)
            return fail(DSPERR_InvalidArg,
                        "audio data of " + std::to_string(audio_data_size) +
                            " bytes is not a whole number of 16-bit frames",
                        api, "dsp");
        try {
            std::string error;
            if (!fp->feed(static_cast<const int16_t *>(audio_data), audio_data_size / frameBytes,
                          error))
                return fail(DSPERR_InvalidArg, error, api, "dsp");
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api, "dsp");
        }
        if (pb_complete && fp->complete())
            *pb_complete = GNSDK_TRUE;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t
gnsdk_musicidfile_fileinfo_fingerprint_end(gnsdk_musicidfile_fileinfo_handle_t fileinfo) {
    return guarded("gnsdk_musicidfile_fileinfo_fingerprint_end", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_musicidfile_fileinfo_fingerprint_end";
        if (const auto rc = checkInfo(fileinfo, api))
            return rc;
        Fingerprinter *fp = fileinfo->fingerprinter.get();
        if (!fp)
            return fail(DSPERR_InvalidArg, "fingerprint_begin was not called", api, "dsp");
        try {
            std::string error;
            if (!fp->finish(error))
                return fail(DSPERR_InvalidArg, error, api, "dsp");
            fileinfo->fingerprint = fp->items();
            fileinfo->signal = std::make_shared<const std::vector<int16_t>>(fp->takeSignal());
            fileinfo->seconds = fp->seconds();
            fileinfo->fingerprintDone = true;
            fileinfo->fingerprinter.reset();
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api, "dsp");
        }
        return GNSDK_SUCCESS;
    });
}
