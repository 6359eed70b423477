#pragma once

#include "gnsdk.h"

#include <cstdint>
#include <string>
#include <vector>

class FileMetadata;
class JSONGenerator;

// One file or identifier added to the query, and the match objects the
// engine reported for it.
struct FileQueryEntry {
    const char *input = nullptr; // not owned: the caller's path or identifier
    std::string hash;
    bool hasResults = false;
    std::vector<std::string> results; // complete JSON texts
};

// The recognition session around one entry-point call: engine start, user,
// locale, the file query with its callbacks, the result document, shutdown.
class Gnhandler {
public:
    Gnhandler() = default;
    ~Gnhandler();
    Gnhandler(const Gnhandler &) = delete;
    Gnhandler &operator=(const Gnhandler &) = delete;

    // Session. `initFolder`, where given, is handed to engines that resolve
    // relative paths of their initialisation data against it; other engines
    // take such paths from the working folder.
    int32_t Init(const char *clientIdText, const char *clientTagText, const char *initData,
                 const char *initFolder = nullptr);
    int32_t InitLogging(const char *logPath);
    int32_t InitLocale();
    int32_t CreateUser(char *buffer, int32_t size);
    int32_t LoadUser(const char *serializedUser);
    int32_t Shutdown(char *buffer, int32_t size);
    static void PrintError(const char *tag, int32_t number);
    static const char *ReadValue(gnsdk_gdo_handle_t gdo, const char *key, uint32_t ordinal);
    void PrintLists();

    // File query
    int32_t InitQuery();
    int32_t FingerprintFile(const char *hash, int32_t sampleRate, int32_t channels,
                            const void *samples, std::size_t byteCount, const char *path,
                            const FileMetadata *metadata);
    int32_t FingerprintById(const char *identifier);
    void AddFileQueryData(const char *input, const char *hash);
    FileQueryEntry *GetFileQueryData(const char *identifier);
    int32_t FinalizeQuery(char *buffer, int32_t size, int32_t mode);
    int32_t CreateOutputLibrary(char *buffer, int32_t size) const;
    void FreeFileQueryData();

    const std::vector<FileQueryEntry> &fileQueryEntries() const { return entries; }
    int32_t fileQueryCount() const { return static_cast<int32_t>(entries.size()); }
    bool hasQuery() const { return queryHandle != nullptr; }

    static void _musicidfile_status_callback(gnsdk_void_t *callbackData,
                                             gnsdk_musicidfile_query_handle_t query,
                                             gnsdk_musicidfile_fileinfo_handle_t fileinfo,
                                             gnsdk_musicidfile_callback_status_t status,
                                             gnsdk_uint32_t current, gnsdk_uint32_t total,
                                             gnsdk_bool_t *abort);
    static void _result_available_callback(gnsdk_void_t *callbackData,
                                           gnsdk_musicidfile_query_handle_t query,
                                           gnsdk_gdo_handle_t response, gnsdk_uint32_t current,
                                           gnsdk_uint32_t total, gnsdk_bool_t *abort);
    static void _process_albums(Gnhandler *handler, gnsdk_gdo_handle_t response);

private:
    void ReleaseUser();

    gnsdk_musicidfile_query_handle_t queryHandle = nullptr;
    gnsdk_manager_handle_t managerHandle = nullptr;
    gnsdk_user_handle_t userHandle = nullptr;
    char *clientId = nullptr;
    char *clientTag = nullptr;
    gnsdk_musicidfile_callbacks_t callbacks{};
    std::vector<FileQueryEntry> entries;
};

// Writes text by the session's buffer convention: at most size - 1
// characters and a NUL, and a NUL at position size (size + 1 bytes needed).
void CopyToUserBuffer(char *buffer, int32_t size, const char *text);
