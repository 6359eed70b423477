// The descriptor-list dump of the recognition session (a diagnostic).
#include "Gnhandler.h"

#include <cstdio>

namespace {
void PrintElement(FILE *file, gnsdk_list_element_handle_t element, int depth) {
    for (int i = 0; i < depth; ++i) {
        std::fputc(',', file);
    }
    gnsdk_cstr_t display = nullptr;
    gnsdk_manager_list_element_get_display_string(element, &display);
    std::fprintf(file, "%s\n", display != nullptr ? display : "");
    gnsdk_uint32_t children = 0;
    if (gnsdk_manager_list_element_get_child_count(element, &children) != 0) {
        return;
    }
    for (gnsdk_uint32_t i = 0; i < children; ++i) {
        gnsdk_list_element_handle_t child = nullptr;
        if (gnsdk_manager_list_element_get_child(element, i, &child) == 0) {
            PrintElement(file, child, depth + 1);
            gnsdk_manager_list_element_release(child);
        }
    }
}
} // namespace

void Gnhandler::PrintLists() {
    struct ListKind {
        const char *type;
        const char *heading;
    };
    static const ListKind kinds[] = {{GNSDK_LIST_TYPE_ERAS, "Eras (%ud)\n"},
                                     {GNSDK_LIST_TYPE_GENRES, "Genres (%ud)\n"},
                                     {GNSDK_LIST_TYPE_MOODS, "Moods (%ud)\n"},
                                     {GNSDK_LIST_TYPE_TEMPOS, "Tempos(%ud)\n"}};
    FILE *file = std::fopen("lists.xml", "w");
    if (file == nullptr) {
        return;
    }
    for (const ListKind &kind : kinds) {
        gnsdk_list_handle_t list = nullptr;
        if (gnsdk_manager_list_retrieve(kind.type, GNSDK_LANG_ENGLISH, nullptr,
                                        GNSDK_DESCRIPTOR_SIMPLIFIED, userHandle, nullptr, nullptr,
                                        &list) != 0) {
            continue;
        }
        gnsdk_uint32_t count = 0;
        gnsdk_manager_list_get_element_count(list, 1, &count);
        std::fprintf(file, kind.heading, count);
        for (gnsdk_uint32_t i = 0; i < count; ++i) {
            gnsdk_list_element_handle_t element = nullptr;
            if (gnsdk_manager_list_get_element(list, 1, i, &element) == 0) {
                PrintElement(file, element, 1);
                gnsdk_manager_list_element_release(element);
            }
        }
        gnsdk_manager_list_release(list);
    }
    std::fclose(file);
}
