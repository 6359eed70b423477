#include "tonemill/tonemill.h"

#include "MBCollection.h"
#include "TonemillMain.h"

#include <cstdio>

namespace {
int runGraceNote(int argc, char *argv[], char *responseBuffer, int responseSize, char *userBuffer,
                 int userSize, int mode) {
    int result = 0;
    try {
        result = TonemillMain::mainGraceNote(argc, argv, responseBuffer, responseSize, userBuffer,
                                             userSize, mode);
    } catch (...) {
        std::fprintf(stderr, "Unexpected failure in the fingerprint library. Exiting.\n\n");
        result = 0;
    }
    MBCollection::getIncance()->clear();
    return result;
}
} // namespace

extern "C" int tonemill_doGraceNote(int argc, char *argv[], char *responseBuffer, int responseSize,
                                    char *userBuffer, int userSize) {
    return runGraceNote(argc, argv, responseBuffer, responseSize, userBuffer, userSize, 0);
}

extern "C" int tonemill_doGraceNoteMultiple(int argc, char *argv[], char *responseBuffer,
                                            int responseSize, char *userBuffer, int userSize) {
    return runGraceNote(argc, argv, responseBuffer, responseSize, userBuffer, userSize, 1);
}

int tonemill_doGraceNoteUniversal(int argc, char *argv[], char *responseBuffer, int responseSize,
                                  char *userBuffer, int userSize, int mode) {
    return runGraceNote(argc, argv, responseBuffer, responseSize, userBuffer, userSize, mode);
}
