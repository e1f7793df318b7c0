#include "ui/neon_title.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(NeonGlowCache, BakesEachKeyOnceAfterItsCopiesWereDrawnAndKeepsItUntilTheKeyChanges) {
    const int font = 0;
    const GlowKey title{"VIBRELLE", &font, 96.0f, 1.0f, 737.5f, 57.6f, 1.0f};
    GlowKey larger = title, wider = title, moved = title, sharper = title;
    larger.fontSize = 144.0f;
    wider.uiScale = 1.5f;
    moved.x = 738.0f;
    sharper.framebufferScale = 2.0f;
    const struct {
        const GlowKey& key;
        bool canBake, bakeWorks;
        GlowStep expected;
    } frames[] = {
        {title, true, true, GlowStep::DrawCopies}, // the atlas may not hold the glyphs yet
        {title, true, true, GlowStep::Bake},
        {title, true, true, GlowStep::UseTexture},
        {title, false, true, GlowStep::UseTexture}, // a baked glow needs no baking
        {larger, true, true, GlowStep::DrawCopies},
        {larger, true, true, GlowStep::Bake},
        {larger, true, true, GlowStep::UseTexture},
        {wider, true, true, GlowStep::DrawCopies},
        {wider, false, true, GlowStep::DrawCopies}, // no GL renderer, or the atlas being made again
        {wider, true, false, GlowStep::Bake},
        {wider, true, true, GlowStep::DrawCopies}, // a failed key is not baked again
        {moved, true, true, GlowStep::DrawCopies},
        {moved, true, true, GlowStep::Bake},
        {sharper, true, true, GlowStep::DrawCopies},
        {title, true, true, GlowStep::DrawCopies}, // back: the copies of the other key came between
        {title, true, true, GlowStep::Bake},
    };
    GlowCache cache;
    std::uint32_t nextTexture = 1;
    int frame = 0;
    for (const auto& f : frames) {
        SCOPED_TRACE(testing::Message() << "frame " << frame++);
        GlowEntry& entry = glowEntryFor(cache, f.key.text);
        const GlowStep step = nextGlowStep(entry, f.key, f.canBake);
        ASSERT_EQ(step, f.expected);
        if (step == GlowStep::Bake && f.bakeWorks) {
            glowBaked(cache, entry, f.key, nextTexture++, 0.0f, 0.0f, 1.0f, 1.0f);
        } else if (step == GlowStep::Bake) {
            glowBakeFailed(cache, entry, f.key);
        }
    }
    EXPECT_EQ(cache.entries.size(), 1u) << "one entry per title text";
    EXPECT_EQ(cache.retired, (std::vector<std::uint32_t>{1, 2, 3}))
        << "each replaced texture is handed back once; a failed bake drops the stale one";
    EXPECT_EQ(cache.entries[0].texture, 4u);
}

TEST(NeonGlowCache, KeepsATextureForEachTitleAndDropsTheLeastRecentlyUsedPastItsSize) {
    GlowCache cache;
    for (std::uint32_t i = 1; i <= kGlowCacheEntries + 1; ++i) {
        const GlowKey key{"TITLE " + std::to_string(i), nullptr, 96.0f, 1.0f, 0.0f, 0.0f, 1.0f};
        if (i == kGlowCacheEntries + 1) {
            glowEntryFor(cache, "TITLE 1"); // the first is back on screen just before
        }
        GlowEntry& entry = glowEntryFor(cache, key.text);
        nextGlowStep(entry, key, true);
        ASSERT_EQ(nextGlowStep(entry, key, true), GlowStep::Bake);
        glowBaked(cache, entry, key, i, 0.0f, 0.0f, 1.0f, 1.0f);
    }
    ASSERT_EQ(cache.entries.size(), kGlowCacheEntries);
    EXPECT_EQ(cache.retired, std::vector<std::uint32_t>{2}) << "the second title was the least recently used";
    EXPECT_EQ(glowEntryFor(cache, "TITLE 1").texture, 1u);
}

} // namespace
