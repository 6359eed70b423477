// The file query of the recognition session: items in, answers by callback.
#include "Gnhandler.h"

#include "FileMetadata.h"
#include "JSONGenerator.h"
#include "MBCollection.h"

#include <cstdio>
#include <cstring>

void CreateAlbumOutput(gnsdk_gdo_handle_t album, uint32_t ordinal, JSONGenerator &writer);

namespace {
const char *const QueryOptions[] = {
    GNSDK_MUSICIDFILE_OPTION_ENABLE_CLASSICAL_DATA, GNSDK_MUSICIDFILE_OPTION_ENABLE_CONTENT_DATA,
    GNSDK_MUSICIDFILE_OPTION_ENABLE_EXTERNAL_IDS, GNSDK_MUSICIDFILE_OPTION_ENABLE_GLOBALIDS,
    GNSDK_MUSICIDFILE_OPTION_ENABLE_SONIC_DATA};
} // namespace

int32_t Gnhandler::InitQuery() {
    callbacks = gnsdk_musicidfile_callbacks_t{};
    callbacks.callback_status = &Gnhandler::_musicidfile_status_callback;
    callbacks.callback_result_available = &Gnhandler::_result_available_callback;
    if (gnsdk_musicidfile_query_create(userHandle, &callbacks, this, &queryHandle) != 0) {
        queryHandle = nullptr;
        return -1;
    }
    int32_t status = 0;
    for (int32_t position = 0; position < 5; ++position) {
        if (gnsdk_musicidfile_query_option_set(queryHandle, QueryOptions[position],
                                               GNSDK_MUSICIDFILE_OPTION_VALUE_TRUE) != 0) {
            status = position == 0 ? -1 : -position;
            break;
        }
    }
    if (status != 0) {
        PrintError("gnhandler_fingerprint_file_init_query", status);
        // The query will not be finalised: release it here rather than leak it.
        gnsdk_musicidfile_query_release(queryHandle);
        queryHandle = nullptr;
    }
    return status;
}

int32_t Gnhandler::FingerprintFile(const char *hash, int32_t sampleRate, int32_t channels,
                                   const void *samples, std::size_t byteCount, const char *path,
                                   const FileMetadata *metadata) {
    if (queryHandle == nullptr) {
        return -1;
    }
    const char *ident = MBCollection::getIncance()->getMBString(path);
    gnsdk_musicidfile_fileinfo_handle_t fileinfo = nullptr;
    gnsdk_error_t result =
        gnsdk_musicidfile_query_fileinfo_create(queryHandle, ident, nullptr, nullptr, &fileinfo);
    if (result != 0) {
        PrintError("gnhandler_fingerprint_file - gnsdk_musicidfile_query_fileinfo_create() failed",
                   static_cast<int32_t>(result));
        return static_cast<int32_t>(result);
    }
    result = gnsdk_musicidfile_fileinfo_metadata_set(
        fileinfo, GNSDK_MUSICIDFILE_FILEINFO_VALUE_FILENAME, ident);
    if (result != 0) {
        std::printf("Error with %s.\n", ident);
        PrintError("gnhandler_fingerprint_file - "
                   "gnsdk_musicidfile_fileinfo_metadata_set(GNSDK_MUSICIDFILE_FILEINFO_VALUE_"
                   "FILENAME) failed",
                   static_cast<int32_t>(result));
    }
    if (metadata != nullptr) {
        metadata->applyMetadataToFileInfo(fileinfo);
    }
    gnsdk_bool_t complete = GNSDK_FALSE;
    result = gnsdk_musicidfile_fileinfo_fingerprint_begin(
        fileinfo, static_cast<gnsdk_uint32_t>(sampleRate), 16,
        static_cast<gnsdk_uint32_t>(channels));
    if (result == 0) {
        result =
            gnsdk_musicidfile_fileinfo_fingerprint_write(fileinfo, samples, byteCount, &complete);
        if (result == 0) {
            result = gnsdk_musicidfile_fileinfo_fingerprint_end(fileinfo);
        }
    }
    if (!complete) {
        std::printf("Warning: input file does not contain enough data to generate a "
                    "fingerprint:\n%s\n",
                    ident);
    }
    if (result == 0) {
        AddFileQueryData(ident, hash);
        return 0;
    }
    gnsdk_musicidfile_query_fileinfo_remove(queryHandle, fileinfo);
    return static_cast<int32_t>(result);
}

int32_t Gnhandler::FingerprintById(const char *identifier) {
    if (queryHandle == nullptr) {
        return -1;
    }
    if (identifier == nullptr) {
        return -2;
    }
    int32_t status = 0;
    bool sdkFailed = false;
    gnsdk_musicidfile_fileinfo_handle_t fileinfo = nullptr;
    if (gnsdk_musicidfile_query_fileinfo_create(queryHandle, identifier, nullptr, nullptr,
                                                &fileinfo) != 0) {
        status = -2;
        sdkFailed = true;
        fileinfo = nullptr;
    }
    // TUI, a minus sign, TUI tag. The parts are copied rather than split in
    // place, and an identifier without a minus sign has no tag: rejected.
    const char *minus = std::strchr(identifier, '-');
    if (status == 0 && minus == nullptr) {
        status = -3;
    } else if (status == 0) {
        const std::string tui(identifier, static_cast<std::size_t>(minus - identifier));
        if (gnsdk_musicidfile_fileinfo_metadata_set(
                fileinfo, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUITAG, minus + 1) != 0) {
            status = -3;
            sdkFailed = true;
        } else if (gnsdk_musicidfile_fileinfo_metadata_set(
                       fileinfo, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUI, tui.c_str()) != 0) {
            status = -4;
            sdkFailed = true;
        }
    }
    if (status != 0) {
        std::printf("Error with %s.\n", identifier);
        if (sdkFailed) {
            PrintError("gnhandler_fingerprint_file_byid", status);
        }
        if (fileinfo != nullptr) {
            gnsdk_musicidfile_query_fileinfo_remove(queryHandle, fileinfo);
        }
        return status;
    }
    AddFileQueryData(identifier, "0");
    return 0;
}

void Gnhandler::AddFileQueryData(const char *input, const char *hash) {
    FileQueryEntry entry;
    entry.input = input;
    entry.hash = hash != nullptr ? hash : "";
    entries.push_back(std::move(entry));
}

FileQueryEntry *Gnhandler::GetFileQueryData(const char *identifier) {
    if (identifier == nullptr) {
        return nullptr;
    }
    for (FileQueryEntry &entry : entries) {
        if (std::strcmp(entry.input, identifier) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

void Gnhandler::FreeFileQueryData() {
    entries.clear();
}

int32_t Gnhandler::FinalizeQuery(char *buffer, int32_t size, int32_t mode) {
    int32_t status = 0;
    const gnsdk_error_t started =
        mode == 0 ? gnsdk_musicidfile_query_do_libraryid(queryHandle,
                                                         GNSDK_MUSICIDFILE_QUERY_FLAG_RETURN_SINGLE)
                  : gnsdk_musicidfile_query_do_trackid(queryHandle,
                                                       GNSDK_MUSICIDFILE_QUERY_FLAG_RETURN_ALL);
    if (started != 0) {
        status = -1;
    }
    if (status == 0) {
        gnsdk_error_t completeError = 0;
        if (gnsdk_musicidfile_query_wait_for_complete(
                queryHandle, GNSDK_MUSICIDFILE_TIMEOUT_INFINITE, &completeError) != 0) {
            status = -2;
        } else if (completeError != 0) {
            status = -3;
        }
    }
    if (status != 0) {
        PrintError("gnhandler_fingerprint_file_finalize_query", status);
    }
    CreateOutputLibrary(buffer, size);
    if (gnsdk_musicidfile_query_release(queryHandle) != 0) {
        PrintError("gnhandler_fingerprint_file_finalize_query", status);
    }
    queryHandle = nullptr;
    return status;
}

void Gnhandler::_musicidfile_status_callback(gnsdk_void_t *, gnsdk_musicidfile_query_handle_t,
                                             gnsdk_musicidfile_fileinfo_handle_t,
                                             gnsdk_musicidfile_callback_status_t, gnsdk_uint32_t,
                                             gnsdk_uint32_t, gnsdk_bool_t *abort) {
    if (abort != nullptr) {
        *abort = GNSDK_FALSE;
    }
}

void Gnhandler::_result_available_callback(gnsdk_void_t *callbackData,
                                           gnsdk_musicidfile_query_handle_t,
                                           gnsdk_gdo_handle_t response, gnsdk_uint32_t,
                                           gnsdk_uint32_t, gnsdk_bool_t *abort) {
    // Runs on the engine's thread while the caller waits: nothing may escape.
    try {
        _process_albums(static_cast<Gnhandler *>(callbackData), response);
    } catch (...) {
        std::fprintf(stderr, "Unable to process a recognition response.\n");
    }
    if (abort != nullptr) {
        *abort = GNSDK_FALSE;
    }
}

void Gnhandler::_process_albums(Gnhandler *handler, gnsdk_gdo_handle_t response) {
    gnsdk_uint32_t albumCount = 0;
    gnsdk_error_t result =
        gnsdk_manager_gdo_child_count(response, GNSDK_GDO_CHILD_ALBUM, &albumCount);
    if (result != 0) {
        PrintError("_process_albums->gnsdk_manager_gdo_child_count(GNSDK_GDO_CHILD_ALBUM) failed",
                   static_cast<int32_t>(result));
        return;
    }
    for (gnsdk_uint32_t a = 1; a <= albumCount; ++a) {
        gnsdk_gdo_handle_t album = nullptr;
        result = gnsdk_manager_gdo_child_get(response, GNSDK_GDO_CHILD_ALBUM, a, &album);
        if (result != 0) {
            PrintError("_process_albums->gnsdk_manager_gdo_child_get(GNSDK_GDO_CHILD_ALBUM) failed",
                       static_cast<int32_t>(result));
            continue;
        }
        gnsdk_uint32_t trackCount = 0;
        result = gnsdk_manager_gdo_child_count(album, GNSDK_GDO_CHILD_TRACK_MATCHED, &trackCount);
        if (result != 0) {
            PrintError("_process_albums->gnsdk_manager_gdo_child_count(GNSDK_GDO_CHILD_TRACK_"
                       "MATCHED) failed",
                       static_cast<int32_t>(result));
            trackCount = 0;
        }
        for (gnsdk_uint32_t j = 1; j <= trackCount; ++j) {
            gnsdk_gdo_handle_t track = nullptr;
            result = gnsdk_manager_gdo_child_get(album, GNSDK_GDO_CHILD_TRACK_MATCHED, j, &track);
            if (result != 0) {
                PrintError("_process_albums->gnsdk_manager_gdo_child_get(GNSDK_GDO_CHILD_TRACK_"
                           "MATCHED) failed",
                           static_cast<int32_t>(result));
                continue;
            }
            gnsdk_cstr_t ident = nullptr;
            result =
                gnsdk_manager_gdo_value_get(track, GNSDK_MUSICIDFILE_GDO_VALUE_IDENT, 1, &ident);
            if (result != 0) {
                PrintError("_process_albums->gnsdk_manager_gdo_value_get(GNSDK_MUSICIDFILE_GDO_"
                           "VALUE_IDENT) failed",
                           static_cast<int32_t>(result));
                ident = nullptr;
            }
            FileQueryEntry *entry = handler->GetFileQueryData(ident);
            if (entry == nullptr) {
                std::printf("\n\n!!!!Failed to open input file: %s!!!\n\n",
                            ident != nullptr ? ident : "(null)");
                gnsdk_manager_gdo_release(track);
                gnsdk_manager_gdo_release(album);
                return;
            }
            JSONGenerator writer;
            writer.OpenObject(nullptr);
            CreateAlbumOutput(album, j, writer);
            writer.CloseObject();
            entry->results.emplace_back(writer.getJSONString());
            entry->hasResults = true;
            gnsdk_manager_gdo_release(track);
        }
        gnsdk_manager_gdo_release(album);
    }
}
