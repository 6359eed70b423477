#include "result_builder.h"

#include <gnsdk.h>

namespace recog {

namespace {

std::shared_ptr<const GdoNode> named(const char *context, const std::string &display) {
    auto n = std::make_shared<GdoNode>(context);
    n->addValue(GNSDK_GDO_VALUE_DISPLAY, display);
    return n;
}

void addExternalIds(GdoNode &owner, const std::vector<ExternalId> &ids) {
    for (const ExternalId &x : ids) {
        auto n = std::make_shared<GdoNode>("gnsdk_ctx_xid");
        n->addValue(GNSDK_GDO_VALUE_EXTERNALID_TYPE, x.type);
        n->addValue(GNSDK_GDO_VALUE_EXTERNALID_SOURCE, x.source);
        n->addValue(GNSDK_GDO_VALUE_EXTERNALID_VALUE, x.value);
        owner.addChild(GNSDK_GDO_CHILD_EXTERNAL_ID, n);
    }
}

} // namespace

std::shared_ptr<const GdoNode> ResultBuilder::artist(int64_t contributorId,
                                                     const std::string &fallbackName) {
    // Artists without a contributor record differ only by name: not cached.
    if (auto it = artists_.find(contributorId); contributorId && it != artists_.end())
        return it->second;
    auto a = std::make_shared<GdoNode>("gnsdk_ctx_artist");
    const auto c = contributorId ? cat_.contributor(contributorId) : std::nullopt;
    a->addChild(GNSDK_GDO_CHILD_NAME_OFFICIAL, named("gnsdk_ctx_name", c ? c->name : fallbackName));
    if (c) {
        auto n = std::make_shared<GdoNode>("gnsdk_ctx_contributor");
        n->addValue(GNSDK_GDO_VALUE_GNUID, c->gnuid);
        static const char *const eras[] = {GNSDK_GDO_VALUE_ERA_LEVEL1, GNSDK_GDO_VALUE_ERA_LEVEL2,
                                           GNSDK_GDO_VALUE_ERA_LEVEL3};
        static const char *const origins[] = {
            GNSDK_GDO_VALUE_ORIGIN_LEVEL1, GNSDK_GDO_VALUE_ORIGIN_LEVEL2,
            GNSDK_GDO_VALUE_ORIGIN_LEVEL3, GNSDK_GDO_VALUE_ORIGIN_LEVEL4};
        for (size_t i = 0; i < 3; ++i)
            n->addValue(eras[i], c->era[i]);
        for (size_t i = 0; i < 4; ++i)
            n->addValue(origins[i], c->origin[i]);
        n->addChild(GNSDK_GDO_CHILD_NAME_OFFICIAL, named("gnsdk_ctx_name", c->name));
        a->addChild(GNSDK_GDO_CHILD_CONTRIBUTOR, n);
    }
    if (contributorId)
        artists_[contributorId] = a;
    return a;
}

std::shared_ptr<const GdoNode> ResultBuilder::track(const TrackRecord &t,
                                                    const std::string &ident) {
    auto n = std::make_shared<GdoNode>("gnsdk_ctx_track");
    n->addValue(GNSDK_MUSICIDFILE_GDO_VALUE_IDENT, ident);
    n->addValue(GNSDK_GDO_VALUE_GNID, t.gnid);
    n->addValue(GNSDK_GDO_VALUE_TUI, t.tui);
    if (t.trackNumber > 0)
        n->addValue(GNSDK_GDO_VALUE_TRACK_NUMBER, std::to_string(t.trackNumber));
    n->addValue(GNSDK_GDO_VALUE_MOOD_LEVEL1, t.mood[0]);
    n->addValue(GNSDK_GDO_VALUE_MOOD_LEVEL2, t.mood[1]);
    n->addValue(GNSDK_GDO_VALUE_TEMPO_LEVEL1, t.tempo[0]);
    n->addValue(GNSDK_GDO_VALUE_TEMPO_LEVEL2, t.tempo[1]);
    n->addValue(GNSDK_GDO_VALUE_TEMPO_LEVEL3, t.tempo[2]);
    n->addValue(GNSDK_GDO_VALUE_GENRE_LEVEL1, t.genre[0]);
    n->addValue(GNSDK_GDO_VALUE_GENRE_LEVEL2, t.genre[1]);
    n->addValue(GNSDK_GDO_VALUE_GENRE_LEVEL3, t.genre[2]);
    n->addChild(GNSDK_GDO_CHILD_TITLE_OFFICIAL, named("gnsdk_ctx_title", t.title));
    n->addChild(GNSDK_GDO_CHILD_ARTIST, artist(t.contributorId, t.artist));
    addExternalIds(*n, t.externalIds);
    return n;
}

std::shared_ptr<GdoNode> ResultBuilder::album(int64_t albumId,
                                              const std::vector<TrackMatch> &matches) {
    const auto a = cat_.album(albumId);
    if (!a)
        return nullptr;
    auto n = std::make_shared<GdoNode>("gnsdk_ctx_album");
    n->addValue(GNSDK_GDO_VALUE_GNID, a->gnid);
    n->addValue(GNSDK_GDO_VALUE_GENRE_LEVEL1, a->genre[0]);
    n->addValue(GNSDK_GDO_VALUE_GENRE_LEVEL2, a->genre[1]);
    n->addValue(GNSDK_GDO_VALUE_GENRE_LEVEL3, a->genre[2]);
    n->addValue(GNSDK_GDO_VALUE_ALBUM_LABEL, a->label);
    n->addChild(GNSDK_GDO_CHILD_TITLE_OFFICIAL, named("gnsdk_ctx_title", a->title));
    n->addChild(GNSDK_GDO_CHILD_ARTIST, artist(a->contributorId, a->artist));
    addExternalIds(*n, a->externalIds);
    for (const TrackMatch &m : matches)
        if (const auto t = cat_.track(m.trackId))
            n->addChild(GNSDK_GDO_CHILD_TRACK_MATCHED, track(*t, m.ident));
    return n;
}

std::shared_ptr<GdoNode>
ResultBuilder::response(const std::vector<std::shared_ptr<GdoNode>> &albums) {
    auto r = std::make_shared<GdoNode>("gnsdk_ctx_response_album");
    for (const auto &a : albums)
        r->addChild(GNSDK_GDO_CHILD_ALBUM, a);
    return r;
}

} // namespace recog
