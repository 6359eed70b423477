/*
 * libtonemill - decodes, hashes and fingerprints audio files and asks the
 * recognition engine who they are, in one call per group of files.
 *
 * argv: [0] program name, [1] client ID, [2] client tag, [3] path of the
 * engine's initialisation data, then optionally "-e LOGFILE", then one user
 * option ("-U USERFILE" | "-u USERTEXT" | "-c USEROUTFILE", optionally
 * followed by "-C", or "-C" alone), then the items: audio file paths,
 * "-f PATH" for a path that begins with a minus sign, "-i TUI-TUITAG" for a
 * known track identifier.
 *
 * The result document (JSON) is written into responseBuffer (at most
 * responseSize - 2 characters and a NUL), the serialised user into
 * userBuffer (at most userSize - 2 characters and a NUL; a NUL is also stored
 * at userBuffer[userSize - 1]). Both buffers and every argument text stay the
 * caller's.
 *
 * Result: the number of items added to the query (0 also for a usage,
 * buffer, engine or user failure, no item, or a failed query); -1 when all
 * ran but the "-c" user file could not be written. Calls must not overlap.
 * Nothing is thrown across these functions.
 *
 * The environment variable TONEMILL_DECODE_WORKERS sets how many threads
 * decode and hash the files of one call (default: two on a machine with two
 * or more cores; 1 decodes on the calling thread). Neither the document nor
 * what the library prints depends on it: each file's messages come in
 * argument order.
 */
#ifndef TONEMILL_TONEMILL_H
#define TONEMILL_TONEMILL_H

#if defined(TONEMILL_BUILDING)
#define TONEMILL_EXPORT __attribute__((visibility("default")))
#else
#define TONEMILL_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Library identification: at most one match per file. */
TONEMILL_EXPORT int tonemill_doGraceNote(int argc, char *argv[], char *responseBuffer,
                                         int responseSize, char *userBuffer, int userSize);

/* Track identification: every candidate match of each file. */
TONEMILL_EXPORT int tonemill_doGraceNoteMultiple(int argc, char *argv[], char *responseBuffer,
                                                 int responseSize, char *userBuffer, int userSize);

#ifdef __cplusplus
} /* extern "C" */

/* mode 0: as tonemill_doGraceNote; any other value: as tonemill_doGraceNoteMultiple. */
TONEMILL_EXPORT int tonemill_doGraceNoteUniversal(int argc, char *argv[], char *responseBuffer,
                                                  int responseSize, char *userBuffer, int userSize,
                                                  int mode);
#endif

#endif /* TONEMILL_TONEMILL_H */
