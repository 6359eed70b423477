// Result data objects: children and values of the trees handed to callbacks.
#include "handles.h"
#include "last_error.h"

#include <new>

using namespace recog;

namespace recog {
gnsdk_gdo_handle_t newGdoHandle(std::shared_ptr<const GdoNode> node) {
    auto *h = new (std::nothrow) gnsdk_gdo_handle_s;
    if (!h)
        return nullptr;
    h->node = std::move(node);
    handles().add(h, HandleKind::Gdo);
    return h;
}

void releaseGdoHandle(gnsdk_gdo_handle_t h) {
    handles().remove(h);
    delete h;
}
} // namespace recog

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_gdo_child_count(gnsdk_gdo_handle_t gdo,
                                                         gnsdk_cstr_t child_key,
                                                         gnsdk_uint32_t *p_count) {
    return guarded("gnsdk_manager_gdo_child_count", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_gdo_child_count";
        if (const auto rc = checkHandle(gdo, HandleKind::Gdo, api))
            return rc;
        if (!child_key || !p_count)
            return fail(SDKMGRERR_InvalidArg, "child key and count pointer are required", api);
        try {
            *p_count = gnsdk_uint32_t(gdo->node->childCount(child_key));
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_gdo_child_get(gnsdk_gdo_handle_t gdo,
                                                       gnsdk_cstr_t child_key,
                                                       gnsdk_uint32_t ordinal,
                                                       gnsdk_gdo_handle_t *p_child_gdo) {
    return guarded("gnsdk_manager_gdo_child_get", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_gdo_child_get";
        if (const auto rc = checkHandle(gdo, HandleKind::Gdo, api))
            return rc;
        if (!child_key || !p_child_gdo || ordinal == 0)
            return fail(SDKMGRERR_InvalidArg, "child key, ordinal from 1 and handle are required",
                        api);
        try {
            auto child = gdo->node->child(child_key, ordinal);
            if (!child)
                return fail(SDKMGRERR_NotFound,
                            std::string("no child ") + child_key + " #" + std::to_string(ordinal),
                            api);
            gnsdk_gdo_handle_t h = newGdoHandle(std::move(child));
            if (!h)
                return fail(SDKMGRERR_NoMemory, "out of memory", api);
            *p_child_gdo = h;
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_gdo_value_get(gnsdk_gdo_handle_t gdo,
                                                       gnsdk_cstr_t value_key,
                                                       gnsdk_uint32_t ordinal,
                                                       gnsdk_cstr_t *p_value) {
    return guarded("gnsdk_manager_gdo_value_get", [&]() -> gnsdk_error_t {
        constexpr const char *api = "gnsdk_manager_gdo_value_get";
        if (const auto rc = checkHandle(gdo, HandleKind::Gdo, api))
            return rc;
        if (!value_key || !p_value || ordinal == 0)
            return fail(SDKMGRERR_InvalidArg, "value key, ordinal from 1 and pointer are required",
                        api);
        try {
            const std::string *v = gdo->node->value(value_key, ordinal);
            if (!v)
                return fail(SDKMGRERR_NotFound,
                            std::string("no value ") + value_key + " #" + std::to_string(ordinal),
                            api);
            *p_value = v->c_str();
        } catch (...) {
            return fail(SDKMGRERR_NoMemory, "out of memory", api);
        }
        return GNSDK_SUCCESS;
    });
}

GNSDK_EXPORT gnsdk_error_t gnsdk_manager_gdo_release(gnsdk_gdo_handle_t gdo) {
    return guarded("gnsdk_manager_gdo_release", [&]() -> gnsdk_error_t {
        if (const auto rc = checkHandle(gdo, HandleKind::Gdo, "gnsdk_manager_gdo_release"))
            return rc;
        releaseGdoHandle(gdo);
        return GNSDK_SUCCESS;
    });
}
