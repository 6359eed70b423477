/*
 * gnsdk.h - the C interface of the recognition engine.
 *
 * libtonemill calls the engine only through the functions declared here; the
 * engine (recognition/) implements them, and the libtonemill tests link a
 * fault-injecting stand-in with the same interface. This header is shared:
 * change it only by adding to it.
 *
 * General rules
 * - Every operation returns a gnsdk_error_t: GNSDK_SUCCESS (0) or an error
 *   code. A failing call records the error as the calling thread's last error,
 *   which gnsdk_manager_error_info() returns (code and description).
 * - Out parameters are written only on success unless a function says
 *   otherwise.
 * - Texts are NUL-terminated UTF-8 byte strings. Texts handed in are copied by
 *   the engine when it keeps them.
 * - Handles are opaque pointers. Nothing here throws or lets an exception
 *   escape.
 * - Ordinals of data-object children and values count from 1; indexes of list
 *   elements count from 0.
 * - A caller may give up after a failed start or user set-up without shutting
 *   down; gnsdk_manager_initialize (and the module initialisations) must then
 *   accept being called again in a later call.
 *
 * Calling sequence used by libtonemill within one call
 *   gnsdk_manager_initialize, gnsdk_dsp_initialize, gnsdk_musicidfile_initialize;
 *   optionally gnsdk_manager_logging_enable;
 *   gnsdk_manager_user_create_new (+ user_option_set, user_serialize) or
 *   gnsdk_manager_user_create (+ user_option_set); a user set up a second
 *   time in the same call first releases the previous one
 *   (gnsdk_manager_user_release, its text freed);
 *   gnsdk_manager_locale_load, gnsdk_manager_locale_set_group_default,
 *   gnsdk_manager_locale_release;
 *   gnsdk_musicidfile_query_create, five query_option_set calls;
 *   per file: query_fileinfo_create, fileinfo_metadata_set (several),
 *   fileinfo_fingerprint_begin / _write (once, all PCM) / _end, or
 *   query_fileinfo_remove on failure; per identifier: query_fileinfo_create,
 *   metadata_set of the TUI tag and the TUI;
 *   gnsdk_musicidfile_query_do_libraryid or _do_trackid,
 *   gnsdk_musicidfile_query_wait_for_complete (the result callback runs,
 *   possibly on another thread, never two at once), gnsdk_musicidfile_query_release;
 *   gnsdk_manager_user_release, gnsdk_musicidfile_shutdown, gnsdk_dsp_shutdown,
 *   gnsdk_manager_shutdown.
 *
 * Shape of a response (the data object handed to the result callback)
 *   response
 *     GNSDK_GDO_CHILD_ALBUM (1..n)             album
 *       values GNSDK_GDO_VALUE_GNID, GNSDK_GDO_VALUE_GENRE_LEVEL1..3,
 *              GNSDK_GDO_VALUE_ALBUM_LABEL
 *       GNSDK_GDO_CHILD_TITLE_OFFICIAL (1)      value GNSDK_GDO_VALUE_DISPLAY
 *       GNSDK_GDO_CHILD_ARTIST (1)              album artist (see below)
 *       GNSDK_GDO_CHILD_EXTERNAL_ID (1..n)      values GNSDK_GDO_VALUE_EXTERNALID_TYPE,
 *                                               _SOURCE, _VALUE
 *       GNSDK_GDO_CHILD_TRACK_MATCHED (1..n)     one per matched file-info
 *         value GNSDK_MUSICIDFILE_GDO_VALUE_IDENT: the file-info's identifier
 *               text exactly as given to gnsdk_musicidfile_query_fileinfo_create
 *         values GNSDK_GDO_VALUE_GNID, _TUI, _TRACK_NUMBER, _MOOD_LEVEL1..2,
 *                _TEMPO_LEVEL1..3, _GENRE_LEVEL1..3
 *         GNSDK_GDO_CHILD_TITLE_OFFICIAL (1)    value GNSDK_GDO_VALUE_DISPLAY
 *         GNSDK_GDO_CHILD_ARTIST (1)            artist
 *         GNSDK_GDO_CHILD_EXTERNAL_ID (1..n)
 *   artist
 *     GNSDK_GDO_CHILD_NAME_OFFICIAL (1)         value GNSDK_GDO_VALUE_DISPLAY
 *     GNSDK_GDO_CHILD_CONTRIBUTOR (1)           contributor
 *   contributor
 *     values GNSDK_GDO_VALUE_GNUID, GNSDK_GDO_VALUE_ERA_LEVEL1..3,
 *            GNSDK_GDO_VALUE_ORIGIN_LEVEL1..4
 *     GNSDK_GDO_CHILD_NAME_OFFICIAL (1)         value GNSDK_GDO_VALUE_DISPLAY
 *   Any value or child may be missing: gnsdk_manager_gdo_value_get then
 *   returns SDKMGRERR_NotFound, gnsdk_manager_gdo_child_get likewise, and
 *   gnsdk_manager_gdo_child_count gives 0.
 */
#ifndef GNSDK_H
#define GNSDK_H

#include <stddef.h>
#include <stdint.h>

/* The engine builds with hidden visibility and GNSDK_BUILDING_ENGINE defined:
 * GNSDK_API exports the interface from it. Elsewhere it is empty. */
#if defined(GNSDK_BUILDING_ENGINE)
#define GNSDK_API __attribute__((visibility("default")))
#else
#define GNSDK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------- types */

typedef uint32_t gnsdk_error_t;
typedef uint8_t gnsdk_byte_t;
typedef uint16_t gnsdk_uint16_t;
typedef uint32_t gnsdk_uint32_t;
typedef int32_t gnsdk_int32_t;
typedef uint64_t gnsdk_uint64_t;
typedef size_t gnsdk_size_t;
typedef unsigned char gnsdk_bool_t;
typedef void gnsdk_void_t;
typedef char *gnsdk_str_t;        /* engine-allocated, freed with gnsdk_manager_string_free */
typedef const char *gnsdk_cstr_t; /* borrowed text */

#define GNSDK_TRUE ((gnsdk_bool_t)1)
#define GNSDK_FALSE ((gnsdk_bool_t)0)

typedef struct gnsdk_manager_handle_s *gnsdk_manager_handle_t;
typedef struct gnsdk_user_handle_s *gnsdk_user_handle_t;
typedef struct gnsdk_locale_handle_s *gnsdk_locale_handle_t;
typedef struct gnsdk_list_handle_s *gnsdk_list_handle_t;
typedef struct gnsdk_list_element_handle_s *gnsdk_list_element_handle_t;
typedef struct gnsdk_gdo_handle_s *gnsdk_gdo_handle_t;
typedef struct gnsdk_musicidfile_query_handle_s *gnsdk_musicidfile_query_handle_t;
typedef struct gnsdk_musicidfile_fileinfo_handle_s *gnsdk_musicidfile_fileinfo_handle_t;

/* The last error of the calling thread. error_code is GNSDK_SUCCESS and
 * error_description "" when nothing failed yet. The record stays valid until
 * the next failing call on the same thread. */
typedef struct gnsdk_error_info_s {
    gnsdk_error_t error_code;
    gnsdk_cstr_t error_description;
    gnsdk_cstr_t error_api;    /* name of the failing operation, or "" */
    gnsdk_cstr_t error_module; /* "manager", "dsp" or "musicidfile", or "" */
} gnsdk_error_info_t;

/* ---------------------------------------------------------------- errors */

#define GNSDK_SUCCESS ((gnsdk_error_t)0)

#define SDKMGRERR_InvalidArg ((gnsdk_error_t)0x90800001u)
#define SDKMGRERR_NoMemory ((gnsdk_error_t)0x90800002u)
#define SDKMGRERR_NotFound ((gnsdk_error_t)0x90800003u)
#define SDKMGRERR_IOError ((gnsdk_error_t)0x90800004u)
#define SDKMGRERR_Unsupported ((gnsdk_error_t)0x90800005u)
#define SDKMGRERR_Busy ((gnsdk_error_t)0x90800006u)
#define SDKMGRERR_NotInited ((gnsdk_error_t)0x90800007u)
#define SDKMGRERR_InitFailed ((gnsdk_error_t)0x90800008u)
#define SDKMGRERR_Timeout ((gnsdk_error_t)0x90800009u)
#define SDKMGRERR_InvalidFormat ((gnsdk_error_t)0x9080000Au)
#define SDKMGRERR_Aborted ((gnsdk_error_t)0x9080000Bu)
#define SDKMGRERR_Unknown ((gnsdk_error_t)0x9080000Cu)
#define SDKMGRERR_HandleObjectInvalid ((gnsdk_error_t)0x90800320u)
#define SDKMGRERR_HandleObjectWrongType ((gnsdk_error_t)0x90800321u)

#define DSPERR_InvalidArg ((gnsdk_error_t)0x90A00001u)
#define DSPERR_NotInited ((gnsdk_error_t)0x90A00007u)
#define DSPERR_Unsupported ((gnsdk_error_t)0x90A00005u)

#define MIDFERR_InvalidArg ((gnsdk_error_t)0x90B00001u)
#define MIDFERR_NotFound ((gnsdk_error_t)0x90B00003u)
#define MIDFERR_NotInited ((gnsdk_error_t)0x90B00007u)
#define MIDFERR_Busy ((gnsdk_error_t)0x90B00006u)

/* ---------------------------------------------------------------- values */

#define GNSDK_VALUE_TRUE "true"
#define GNSDK_VALUE_FALSE "false"

/* Locale and list descriptors */
#define GNSDK_LOCALE_GROUP_MUSIC "gnsdk_locale_music"
#define GNSDK_LANG_ENGLISH "eng"
#define GNSDK_DESCRIPTOR_DETAILED "gnsdk_desc_detailed"
#define GNSDK_DESCRIPTOR_SIMPLIFIED "gnsdk_desc_simplified"

#define GNSDK_LIST_TYPE_ERAS "gnsdk_list_type_eras"
#define GNSDK_LIST_TYPE_GENRES "gnsdk_list_type_genres"
#define GNSDK_LIST_TYPE_MOODS "gnsdk_list_type_moods"
#define GNSDK_LIST_TYPE_TEMPOS "gnsdk_list_type_tempos"

/* User options (value GNSDK_VALUE_TRUE / GNSDK_VALUE_FALSE) */
#define GNSDK_USER_OPTION_NETWORK_LOADBALANCE "gnsdk_useroption_network_loadbalance"

/* Logging: package, level filter and option masks of gnsdk_manager_logging_enable */
#define GNSDK_LOG_PKG_ALL ((gnsdk_uint16_t)0xFF)
#define GNSDK_LOG_LEVEL_ERROR 0x01u
#define GNSDK_LOG_LEVEL_WARNING 0x02u
#define GNSDK_LOG_LEVEL_INFO 0x04u
#define GNSDK_LOG_LEVEL_DEBUG 0x08u
#define GNSDK_LOG_LEVEL_ALL 0x0Fu
#define GNSDK_LOG_OPTION_ALL 0xFF000000u

/* Query options (value GNSDK_MUSICIDFILE_OPTION_VALUE_TRUE) */
#define GNSDK_MUSICIDFILE_OPTION_ENABLE_CLASSICAL_DATA "gnsdk_midf_option_enable_classical"
#define GNSDK_MUSICIDFILE_OPTION_ENABLE_CONTENT_DATA "gnsdk_midf_option_enable_content"
#define GNSDK_MUSICIDFILE_OPTION_ENABLE_EXTERNAL_IDS "gnsdk_midf_option_enable_xids"
#define GNSDK_MUSICIDFILE_OPTION_ENABLE_GLOBALIDS "gnsdk_midf_option_enable_globalids"
#define GNSDK_MUSICIDFILE_OPTION_ENABLE_SONIC_DATA "gnsdk_midf_option_enable_sonic"
#define GNSDK_MUSICIDFILE_OPTION_VALUE_TRUE "1"

/* File-info values set with gnsdk_musicidfile_fileinfo_metadata_set */
#define GNSDK_MUSICIDFILE_FILEINFO_VALUE_FILENAME "gnsdk_midf_fileinfo_value_filename"
#define GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST "gnsdk_midf_fileinfo_value_albumartist"
#define GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMTITLE "gnsdk_midf_fileinfo_value_albumtitle"
#define GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKNUMBER "gnsdk_midf_fileinfo_value_tracknumber"
#define GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKTITLE "gnsdk_midf_fileinfo_value_tracktitle"
#define GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUI "gnsdk_midf_fileinfo_value_tui"
#define GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUITAG "gnsdk_midf_fileinfo_value_tuitag"

/* Processing flags. Library identification (do_libraryid) uses
 * RETURN_SINGLE: at most one matched track per file-info. Track
 * identification (do_trackid) uses RETURN_ALL: every candidate, so one file
 * may appear under several albums or several times in one album. */
#define GNSDK_MUSICIDFILE_QUERY_FLAG_RETURN_SINGLE 0x00000001u
#define GNSDK_MUSICIDFILE_QUERY_FLAG_RETURN_ALL 0x00000010u

#define GNSDK_MUSICIDFILE_TIMEOUT_INFINITE 0xFFFFFFFFu

/* Data-object children */
#define GNSDK_GDO_CHILD_ALBUM "gnsdk_ctx_album!"
#define GNSDK_GDO_CHILD_TRACK_MATCHED "gnsdk_ctx_track!matching"
#define GNSDK_GDO_CHILD_TITLE_OFFICIAL "gnsdk_ctx_title!off"
#define GNSDK_GDO_CHILD_ARTIST "gnsdk_ctx_artist!"
#define GNSDK_GDO_CHILD_CONTRIBUTOR "gnsdk_ctx_contributor!"
#define GNSDK_GDO_CHILD_NAME_OFFICIAL "gnsdk_ctx_name!off"
#define GNSDK_GDO_CHILD_EXTERNAL_ID "gnsdk_ctx_xid!"

/* Data-object values */
#define GNSDK_MUSICIDFILE_GDO_VALUE_IDENT "gnsdk_val_ident"
#define GNSDK_GDO_VALUE_GNID "gnsdk_val_gnid"
#define GNSDK_GDO_VALUE_GNUID "gnsdk_val_gnuid"
#define GNSDK_GDO_VALUE_TUI "gnsdk_val_tui"
#define GNSDK_GDO_VALUE_DISPLAY "gnsdk_val_display"
#define GNSDK_GDO_VALUE_TRACK_NUMBER "gnsdk_val_tracknumber"
#define GNSDK_GDO_VALUE_ALBUM_LABEL "gnsdk_val_albumlabel"
#define GNSDK_GDO_VALUE_MOOD_LEVEL1 "gnsdk_val_l1mood"
#define GNSDK_GDO_VALUE_MOOD_LEVEL2 "gnsdk_val_l2mood"
#define GNSDK_GDO_VALUE_TEMPO_LEVEL1 "gnsdk_val_l1tempo"
#define GNSDK_GDO_VALUE_TEMPO_LEVEL2 "gnsdk_val_l2tempo"
#define GNSDK_GDO_VALUE_TEMPO_LEVEL3 "gnsdk_val_l3tempo"
#define GNSDK_GDO_VALUE_GENRE_LEVEL1 "gnsdk_val_list_l1genre"
#define GNSDK_GDO_VALUE_GENRE_LEVEL2 "gnsdk_val_list_l2genre"
#define GNSDK_GDO_VALUE_GENRE_LEVEL3 "gnsdk_val_list_l3genre"
#define GNSDK_GDO_VALUE_ERA_LEVEL1 "gnsdk_val_desc_l1era"
#define GNSDK_GDO_VALUE_ERA_LEVEL2 "gnsdk_val_desc_l2era"
#define GNSDK_GDO_VALUE_ERA_LEVEL3 "gnsdk_val_desc_l3era"
#define GNSDK_GDO_VALUE_ORIGIN_LEVEL1 "gnsdk_val_list_l1origin"
#define GNSDK_GDO_VALUE_ORIGIN_LEVEL2 "gnsdk_val_list_l2origin"
#define GNSDK_GDO_VALUE_ORIGIN_LEVEL3 "gnsdk_val_list_l3origin"
#define GNSDK_GDO_VALUE_ORIGIN_LEVEL4 "gnsdk_val_list_l4origin"
#define GNSDK_GDO_VALUE_EXTERNALID_TYPE "gnsdk_val_xid_type"
#define GNSDK_GDO_VALUE_EXTERNALID_SOURCE "gnsdk_val_xid_source"
#define GNSDK_GDO_VALUE_EXTERNALID_VALUE "gnsdk_val_xid_val"

/* ------------------------------------------------------------- callbacks */

/* Progress of a long operation (locale load, list retrieval). May be null. */
typedef enum gnsdk_status_e {
    gnsdk_status_unknown = 0,
    gnsdk_status_begin = 1,
    gnsdk_status_progress = 2,
    gnsdk_status_complete = 3,
    gnsdk_status_error_info = 4
} gnsdk_status_t;

typedef void (*gnsdk_status_callback_fn)(gnsdk_void_t *callback_data, gnsdk_status_t status,
                                         gnsdk_uint32_t percent_complete,
                                         gnsdk_size_t bytes_total_sent,
                                         gnsdk_size_t bytes_total_received, gnsdk_bool_t *p_abort);

/* Status of one file-info during a query. */
typedef enum gnsdk_musicidfile_callback_status_e {
    gnsdk_musicidfile_status_unknown = 0,
    gnsdk_musicidfile_status_fileinfo_processing_begin = 0x100,
    gnsdk_musicidfile_status_fileinfo_query = 0x150,
    gnsdk_musicidfile_status_fileinfo_processing_complete = 0x199,
    gnsdk_musicidfile_status_fileinfo_processing_error = 0x299,
    gnsdk_musicidfile_status_error = 0x999
} gnsdk_musicidfile_callback_status_t;

/* All callbacks receive the callback data given to gnsdk_musicidfile_query_create.
 * Setting *p_abort to GNSDK_TRUE asks the engine to stop the query. */
typedef void (*gnsdk_musicidfile_status_callback_fn)(
    gnsdk_void_t *callback_data, gnsdk_musicidfile_query_handle_t query_handle,
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, gnsdk_musicidfile_callback_status_t status,
    gnsdk_uint32_t current_file, gnsdk_uint32_t total_files, gnsdk_bool_t *p_abort);

typedef void (*gnsdk_musicidfile_fileinfo_callback_fn)(
    gnsdk_void_t *callback_data, gnsdk_musicidfile_query_handle_t query_handle,
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, gnsdk_uint32_t current_file,
    gnsdk_uint32_t total_files, gnsdk_bool_t *p_abort);

/* One call per response. response_gdo belongs to the engine and is valid only
 * during the call (do not release it; children obtained from it must be
 * released with gnsdk_manager_gdo_release). current_album / total_albums count
 * the responses of the query, from 1. Never two calls at once; possibly on a
 * thread of the engine's own. */
typedef void (*gnsdk_musicidfile_result_callback_fn)(gnsdk_void_t *callback_data,
                                                     gnsdk_musicidfile_query_handle_t query_handle,
                                                     gnsdk_gdo_handle_t response_gdo,
                                                     gnsdk_uint32_t current_album,
                                                     gnsdk_uint32_t total_albums,
                                                     gnsdk_bool_t *p_abort);

typedef void (*gnsdk_musicidfile_complete_callback_fn)(
    gnsdk_void_t *callback_data, gnsdk_musicidfile_query_handle_t query_handle,
    gnsdk_error_t complete_error);

/* Any entry may be null. */
typedef struct gnsdk_musicidfile_callbacks_s {
    gnsdk_musicidfile_status_callback_fn callback_status;
    gnsdk_musicidfile_fileinfo_callback_fn callback_get_fingerprint;
    gnsdk_musicidfile_fileinfo_callback_fn callback_get_metadata;
    gnsdk_musicidfile_result_callback_fn callback_result_available;
    gnsdk_musicidfile_fileinfo_callback_fn callback_result_not_found;
    gnsdk_musicidfile_complete_callback_fn callback_musicid_complete;
} gnsdk_musicidfile_callbacks_t;

/* ------------------------------------------------- start, stop, errors */

/* Starts the manager from the deployment's initialisation data (its content
 * is the engine's own format; length in bytes, the NUL not counted). */
GNSDK_API gnsdk_error_t gnsdk_manager_initialize(gnsdk_manager_handle_t *p_manager_handle,
                                                 gnsdk_cstr_t init_data,
                                                 gnsdk_size_t init_data_size);
/* Engine addition (optional): the folder of the file the initialisation data
 * was read from; relative paths in the data are resolved against it (without
 * it, against the working directory). Call before gnsdk_manager_initialize. */
GNSDK_API gnsdk_error_t gnsdk_manager_set_init_folder(gnsdk_cstr_t folder);
GNSDK_API gnsdk_error_t gnsdk_dsp_initialize(gnsdk_manager_handle_t manager_handle);
GNSDK_API gnsdk_error_t gnsdk_musicidfile_initialize(gnsdk_manager_handle_t manager_handle);

GNSDK_API gnsdk_error_t gnsdk_musicidfile_shutdown(void);
GNSDK_API gnsdk_error_t gnsdk_dsp_shutdown(void);
GNSDK_API gnsdk_error_t gnsdk_manager_shutdown(void);

/* Never null. */
GNSDK_API const gnsdk_error_info_t *gnsdk_manager_error_info(void);

/* ----------------------------------------------------------------- users */

GNSDK_API gnsdk_error_t gnsdk_manager_user_create_new(gnsdk_cstr_t client_id,
                                                      gnsdk_cstr_t client_tag,
                                                      gnsdk_cstr_t app_version,
                                                      gnsdk_user_handle_t *p_user_handle);
/* Restores a user from its serialised text; SDKMGRERR_InvalidFormat (or
 * another error) for a text the engine does not accept. */
GNSDK_API gnsdk_error_t gnsdk_manager_user_create(gnsdk_cstr_t serialized_user,
                                                  gnsdk_user_handle_t *p_user_handle);
GNSDK_API gnsdk_error_t gnsdk_manager_user_option_set(gnsdk_user_handle_t user_handle,
                                                      gnsdk_cstr_t option_key,
                                                      gnsdk_cstr_t option_value);
/* *p_serialized_user is freed with gnsdk_manager_string_free. */
GNSDK_API gnsdk_error_t gnsdk_manager_user_serialize(gnsdk_user_handle_t user_handle,
                                                     gnsdk_str_t *p_serialized_user);
/* Releases the user and hands back its current serialised text in
 * *p_serialized_user (freed with gnsdk_manager_string_free). The text may be
 * handed back even when the call fails; *p_serialized_user is null when there
 * is none. */
GNSDK_API gnsdk_error_t gnsdk_manager_user_release(gnsdk_user_handle_t user_handle,
                                                   gnsdk_str_t *p_serialized_user);
GNSDK_API gnsdk_error_t gnsdk_manager_string_free(gnsdk_str_t text);

/* ------------------------------------------------------ locale, logging */

GNSDK_API gnsdk_error_t gnsdk_manager_locale_load(gnsdk_cstr_t locale_group, gnsdk_cstr_t language,
                                                  gnsdk_cstr_t region, gnsdk_cstr_t descriptor,
                                                  gnsdk_user_handle_t user_handle,
                                                  gnsdk_status_callback_fn callback,
                                                  gnsdk_void_t *callback_data,
                                                  gnsdk_locale_handle_t *p_locale_handle);
GNSDK_API gnsdk_error_t gnsdk_manager_locale_set_group_default(gnsdk_locale_handle_t locale_handle);
GNSDK_API gnsdk_error_t gnsdk_manager_locale_release(gnsdk_locale_handle_t locale_handle);

GNSDK_API gnsdk_error_t gnsdk_manager_logging_enable(
    gnsdk_cstr_t log_file_path, gnsdk_uint16_t package_id, gnsdk_uint32_t filter_mask,
    gnsdk_uint32_t options_mask, gnsdk_uint64_t max_size, gnsdk_bool_t b_archive);

/* Descriptor lists (eras, genres, moods, tempos): levels from 1, element
 * indexes from 0. Elements and lists are released with their release call. */
GNSDK_API gnsdk_error_t gnsdk_manager_list_retrieve(gnsdk_cstr_t list_type, gnsdk_cstr_t language,
                                                    gnsdk_cstr_t region, gnsdk_cstr_t descriptor,
                                                    gnsdk_user_handle_t user_handle,
                                                    gnsdk_status_callback_fn callback,
                                                    gnsdk_void_t *callback_data,
                                                    gnsdk_list_handle_t *p_list_handle);
GNSDK_API gnsdk_error_t gnsdk_manager_list_get_element_count(gnsdk_list_handle_t list_handle,
                                                             gnsdk_uint32_t level,
                                                             gnsdk_uint32_t *p_count);
GNSDK_API gnsdk_error_t gnsdk_manager_list_get_element(gnsdk_list_handle_t list_handle,
                                                       gnsdk_uint32_t level, gnsdk_uint32_t index,
                                                       gnsdk_list_element_handle_t *p_element);
GNSDK_API gnsdk_error_t gnsdk_manager_list_element_get_display_string(
    gnsdk_list_element_handle_t element, gnsdk_cstr_t *p_display_string);
GNSDK_API gnsdk_error_t gnsdk_manager_list_element_get_child_count(
    gnsdk_list_element_handle_t element, gnsdk_uint32_t *p_count);
GNSDK_API gnsdk_error_t gnsdk_manager_list_element_get_child(gnsdk_list_element_handle_t element,
                                                             gnsdk_uint32_t index,
                                                             gnsdk_list_element_handle_t *p_child);
GNSDK_API gnsdk_error_t gnsdk_manager_list_element_release(gnsdk_list_element_handle_t element);
GNSDK_API gnsdk_error_t gnsdk_manager_list_release(gnsdk_list_handle_t list_handle);

/* ------------------------------------------------------------ file query */

/* callbacks may be null; the record is copied. */
GNSDK_API gnsdk_error_t gnsdk_musicidfile_query_create(
    gnsdk_user_handle_t user_handle, const gnsdk_musicidfile_callbacks_t *callbacks,
    gnsdk_void_t *callback_data, gnsdk_musicidfile_query_handle_t *p_query_handle);
GNSDK_API gnsdk_error_t
gnsdk_musicidfile_query_option_set(gnsdk_musicidfile_query_handle_t query_handle,
                                   gnsdk_cstr_t option_key, gnsdk_cstr_t option_value);
/* unique_ident names the file-info in every result (GNSDK_MUSICIDFILE_GDO_VALUE_IDENT).
 * The same identifier may be given to more than one file-info. The file-info
 * belongs to the query (released with it, or removed with
 * gnsdk_musicidfile_query_fileinfo_remove). callbacks / callback_data may be null. */
GNSDK_API gnsdk_error_t gnsdk_musicidfile_query_fileinfo_create(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_cstr_t unique_ident,
    const gnsdk_musicidfile_callbacks_t *callbacks, gnsdk_void_t *callback_data,
    gnsdk_musicidfile_fileinfo_handle_t *p_fileinfo);
GNSDK_API gnsdk_error_t gnsdk_musicidfile_query_fileinfo_remove(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_musicidfile_fileinfo_handle_t fileinfo);
/* Start identification of every file-info of the query (flags above).
 * Results are delivered through the result callback after this call and no
 * later than the return of gnsdk_musicidfile_query_wait_for_complete. */
GNSDK_API gnsdk_error_t gnsdk_musicidfile_query_do_libraryid(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_uint32_t query_flags);
GNSDK_API gnsdk_error_t gnsdk_musicidfile_query_do_trackid(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_uint32_t query_flags);
/* Returns when the query is complete and every callback has returned (or
 * after timeout_ms; GNSDK_MUSICIDFILE_TIMEOUT_INFINITE waits for ever).
 * *p_complete_error receives the query's own completion error (0 when it ran
 * through). */
GNSDK_API gnsdk_error_t gnsdk_musicidfile_query_wait_for_complete(
    gnsdk_musicidfile_query_handle_t query_handle, gnsdk_uint32_t timeout_ms,
    gnsdk_error_t *p_complete_error);
GNSDK_API gnsdk_error_t
gnsdk_musicidfile_query_release(gnsdk_musicidfile_query_handle_t query_handle);

GNSDK_API gnsdk_error_t
gnsdk_musicidfile_fileinfo_metadata_set(gnsdk_musicidfile_fileinfo_handle_t fileinfo,
                                        gnsdk_cstr_t metadata_key, gnsdk_cstr_t metadata_value);
/* Fingerprint from interleaved signed 16-bit PCM (sample_size_bits 16, one or
 * two channels) at the source's own sample rate. */
GNSDK_API gnsdk_error_t gnsdk_musicidfile_fileinfo_fingerprint_begin(
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, gnsdk_uint32_t audio_sample_rate,
    gnsdk_uint32_t audio_sample_size_bits, gnsdk_uint32_t audio_channels);
/* *pb_complete becomes GNSDK_TRUE once enough audio has been seen for a
 * fingerprint; it is left unchanged otherwise. */
GNSDK_API gnsdk_error_t gnsdk_musicidfile_fileinfo_fingerprint_write(
    gnsdk_musicidfile_fileinfo_handle_t fileinfo, const gnsdk_void_t *audio_data,
    gnsdk_size_t audio_data_size, gnsdk_bool_t *pb_complete);
GNSDK_API gnsdk_error_t
gnsdk_musicidfile_fileinfo_fingerprint_end(gnsdk_musicidfile_fileinfo_handle_t fileinfo);

/* ----------------------------------------------------------- result data */

/* Children by key and ordinal (from 1). A child handle obtained here is
 * released with gnsdk_manager_gdo_release. */
GNSDK_API gnsdk_error_t gnsdk_manager_gdo_child_count(gnsdk_gdo_handle_t gdo,
                                                      gnsdk_cstr_t child_key,
                                                      gnsdk_uint32_t *p_count);
GNSDK_API gnsdk_error_t gnsdk_manager_gdo_child_get(gnsdk_gdo_handle_t gdo, gnsdk_cstr_t child_key,
                                                    gnsdk_uint32_t ordinal,
                                                    gnsdk_gdo_handle_t *p_child_gdo);
/* The value text belongs to the data object and stays valid until it is
 * released. SDKMGRERR_NotFound when the object has no such value. */
GNSDK_API gnsdk_error_t gnsdk_manager_gdo_value_get(gnsdk_gdo_handle_t gdo, gnsdk_cstr_t value_key,
                                                    gnsdk_uint32_t ordinal, gnsdk_cstr_t *p_value);
GNSDK_API gnsdk_error_t gnsdk_manager_gdo_release(gnsdk_gdo_handle_t gdo);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* GNSDK_H */
