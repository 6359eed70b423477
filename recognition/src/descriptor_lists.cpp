// Descriptor lists (eras, genres, moods, tempos): the hierarchy of the values
// the catalogue actually holds, level 1 at the top.
#include "engine.h"
#include "handles.h"
#include "last_error.h"

#include <cstring>
#include <new>
#include <sqlite3.h>
#include <vector>

using namespace recog;

namespace {
struct ListNode {
    std::string display;
    std::vector<std::shared_ptr<ListNode>> children;
};
} // namespace

struct gnsdk_list_handle_s {
    std::vector<std::vector<std::shared_ptr<ListNode>>> levels; // levels[0] is level 1
};

struct gnsdk_list_element_handle_s {
    std::shared_ptr<ListNode> node;
};

namespace {

const char *queryFor(const std::string &type) {
    if (type == GNSDK_LIST_TYPE_GENRES)
        return "SELECT genre1, genre2, genre3 FROM tracks WHERE genre1 IS NOT NULL UNION "
               "SELECT genre1, genre2, genre3 FROM albums WHERE genre1 IS NOT NULL ORDER BY 1, 2, "
               "3";
    if (type == GNSDK_LIST_TYPE_MOODS)
        return "SELECT DISTINCT mood1, mood2, NULL FROM tracks WHERE mood1 IS NOT NULL "
               "ORDER BY 1, 2";
    if (type == GNSDK_LIST_TYPE_TEMPOS)
        return "SELECT DISTINCT tempo1, tempo2, tempo3 FROM tracks WHERE tempo1 IS NOT NULL "
               "ORDER BY 1, 2, 3";
    if (type == GNSDK_LIST_TYPE_ERAS)
        return "SELECT DISTINCT era1, era2, era3 FROM contributors WHERE era1 IS NOT NULL "
               "ORDER BY 1, 2, 3";
    return nullptr;
}

gnsdk_list_element_handle_t newElement(std::shared_ptr<ListNode> node) {
    auto *h = new (std::nothrow) gnsdk_list_element_handle_s;
    if (!h)
        return nullptr;
    h->node = std::move(node);
    handles().add(h, HandleKind::ListElement);
    return h;
}

} // namespace

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_list_retrieve(
    gnsdk_cstr_t list_type, gnsdk_cstr_t language, gnsdk_cstr_t /*region*/,
    gnsdk_cstr_t /*descriptor*/, gnsdk_user_handle_t user_handle, gnsdk_status_callback_fn callback,
    gnsdk_void_t *callback_data, gnsdk_list_handle_t *p_list_handle) {
    return guarded("gnsdk_manager_list_retrieve", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_list_retrieve";
        const auto cat = catalogOrFail(api);
        if (!cat)
            return lastError()->error_code;
        if (const auto rc = checkHandle(user_handle, HandleKind::User, api))
            return rc;
        if (!list_type || !p_list_handle)
            return fail(SDKMGRERR_InvalidArg, "list type and handle are required", api);
        if (language && std::strcmp(language, GNSDK_LANG_ENGLISH) != 0)
            return fail(SDKMGRERR_Unsupported, std::string("no lists in ") + language, api);
        const char *sql = queryFor(list_type);
        if (!sql)
            return fail(SDKMGRERR_NotFound, std::string("unknown list type ") + list_type, api);
        try {
            auto list = std::make_unique<gnsdk_list_handle_s>();
            list->levels.resize(3);
            {
                std::lock_guard lock(cat->mutex());
                Statement s(cat->db(), sql);
                std::shared_ptr<ListNode> path[3];
                while (s.step() == SQLITE_ROW) {
                    for (int level = 0; level < 3; ++level) {
                        const std::string v = s.isNull(level) ? std::string() : s.text(level);
                        if (v.empty())
                            break;
                        if (!path[level] || path[level]->display != v) {
                            auto node = std::make_shared<ListNode>();
                            node->display = v;
                            if (level > 0)
                                path[level - 1]->children.push_back(node);
                            list->levels[size_t(level)].push_back(node);
                            path[level] = node;
                            for (int deeper = level + 1; deeper < 3; ++deeper)
                                path[deeper].reset();
                        }
                    }
                }
            }
            handles().add(list.get(), HandleKind::List);
            gnsdk_bool_t abort = GNSDK_FALSE;
            if (callback)
                callback(callback_data, gnsdk_status_complete, 100, 0, 0, &abort);
            *p_list_handle = list.release();
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_list_get_element_count(gnsdk_list_handle_t list_handle,
                                                                gnsdk_uint32_t level,
                                                                gnsdk_uint32_t *p_count) {
    return guarded("gnsdk_manager_list_get_element_count", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_list_get_element_count";
        if (const auto rc = checkHandle(list_handle, HandleKind::List, api))
            return rc;
        if (!p_count || level == 0 || level > list_handle->levels.size())
            return fail(SDKMGRERR_InvalidArg, "level out of range or no count pointer", api);
        *p_count = gnsdk_uint32_t(list_handle->levels[level - 1].size());
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_list_get_element(gnsdk_list_handle_t list_handle,
                                                          gnsdk_uint32_t level,
                                                          gnsdk_uint32_t index,
                                                          gnsdk_list_element_handle_t *p_element) {
    return guarded("gnsdk_manager_list_get_element", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_list_get_element";
        if (const auto rc = checkHandle(list_handle, HandleKind::List, api))
            return rc;
        if (!p_element || level == 0 || level > list_handle->levels.size())
            return fail(SDKMGRERR_InvalidArg, "level out of range or no element pointer", api);
        const auto &nodes = list_handle->levels[level - 1];
        if (index >= nodes.size())
            return fail(SDKMGRERR_NotFound, "element index out of range", api);
        if (!(*p_element = newElement(nodes[index])))
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_list_element_get_display_string(
    gnsdk_list_element_handle_t element, gnsdk_cstr_t *p_display_string) {
    return guarded("gnsdk_manager_list_element_get_display_string", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_list_element_get_display_string";
        if (const auto rc = checkHandle(element, HandleKind::ListElement, api))
            return rc;
        if (!p_display_string)
            return fail(SDKMGRERR_InvalidArg, "no text pointer", api);
        *p_display_string = element->node->display.c_str();
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_list_element_get_child_count(
    gnsdk_list_element_handle_t element, gnsdk_uint32_t *p_count) {
    return guarded("gnsdk_manager_list_element_get_child_count", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_list_element_get_child_count";
        if (const auto rc = checkHandle(element, HandleKind::ListElement, api))
            return rc;
        if (!p_count)
            return fail(SDKMGRERR_InvalidArg, "no count pointer", api);
        *p_count = gnsdk_uint32_t(element->node->children.size());
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t
gnsdk_manager_list_element_get_child(gnsdk_list_element_handle_t element, gnsdk_uint32_t index,
                                     gnsdk_list_element_handle_t *p_child) {
    return guarded("gnsdk_manager_list_element_get_child", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_list_element_get_child";
        if (const auto rc = checkHandle(element, HandleKind::ListElement, api))
            return rc;
        if (!p_child)
            return fail(SDKMGRERR_InvalidArg, "no element pointer", api);
        if (index >= element->node->children.size())
            return fail(SDKMGRERR_NotFound, "child index out of range", api);
        if (!(*p_child = newElement(element->node->children[index])))
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_list_element_release(gnsdk_list_element_handle_t element) {
    return guarded("gnsdk_manager_list_element_release", [&]() -> gnsdk_error_t {
        if (const auto rc =
                checkHandle(element, HandleKind::ListElement, "gnsdk_manager_list_element_release"))
            return rc;
        handles().remove(element);
        delete element;
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_list_release(gnsdk_list_handle_t list_handle) {
    return guarded("gnsdk_manager_list_release", [&]() -> gnsdk_error_t {
        if (const auto rc =
                checkHandle(list_handle, HandleKind::List, "gnsdk_manager_list_release"))
            return rc;
        handles().remove(list_handle);
        delete list_handle;
        return GNSDK_SUCCESS;
    });
}
