// The ordered scorer and the parts of a region: every thread count hands out
// what predict() gives alone, in input order; a failing source ends the
// input after the records before it; a scorer left early stops.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "velcorin2/parallel.h"
#include "velcorin2/segments.h"

using namespace velcorin2;

namespace {

const Model &shipped()
{
    static std::unique_ptr<Model> m = [] {
        ModelRecipe recipe;
        recipe.background_counts = VELCORIN2_SOURCE_DIR "/data/genfreq.dat";
        recipe.coil_counts = VELCORIN2_SOURCE_DIR "/data/posfreq.dat";
        recipe.calibration = VELCORIN2_SOURCE_DIR "/data/calibration.dat";
        return load_model(recipe);
    }();
    return *m;
}

// Records of every length from 0 to 700 residues in steps of 7, coil-like or not.
std::vector<Sequence> records()
{
    std::vector<Sequence> out;
    const std::string coil = "LEEKLKAIEEKLKA", other = "MSTPGDWRNHYCFQ";
    for (int n = 0, i = 0; n <= 700; n += 7, i++) {
        std::string letters;
        for (int k = 0; k < n; k++) letters += (i % 3 ? coil : other)[size_t(k % 14)];
        out.push_back(sequence_from_letters("r" + std::to_string(i), "", letters));
    }
    return out;
}

// from: a source over `recs` that throws instead of giving record `fail_at` (from 0).
RecordSource from(const std::vector<Sequence> &recs, size_t fail_at = SIZE_MAX)
{
    return [&recs, fail_at, i = size_t(0)](Sequence &seq) mutable {
        if (i == fail_at) throw std::runtime_error("source failed");
        if (i == recs.size()) return false;
        seq = recs[i++];
        return true;
    };
}

}  // namespace

TEST(OrderedScorer, EveryThreadCountHandsOutWhatPredictGivesInOrder)
{
    const std::vector<Sequence> recs = records();
    Workspace ws;
    for (int threads : {1, 2, 4}) {
        OrderedScorer scorer(shipped(), from(recs), threads);
        size_t seen = 0;
        for (auto batch = scorer.next(); !batch.empty(); batch = scorer.next()) {
            for (ScoredRecord &r : batch) {
                ASSERT_EQ(r.number, int64_t(seen + 1));
                ASSERT_STREQ(r.sequence.code, recs[seen].code);
                Prediction alone;
                predict(shipped(), recs[seen], {}, ws, alone);
                ASSERT_EQ(r.prediction.scored, alone.scored) << seen;
                if (alone.scored) {
                    for (int32_t i = 0; i < alone.length; i++) {
                        ASSERT_EQ(r.prediction.score[size_t(i)], alone.score[size_t(i)]);
                        ASSERT_EQ(r.prediction.offset[size_t(i)], alone.offset[size_t(i)]);
                    }
                    ASSERT_EQ(r.prediction.sequence_score, alone.sequence_score);
                }
                r.prediction = Prediction{};  // the caller may take the results away
                seen++;
            }
        }
        EXPECT_EQ(seen, recs.size()) << threads;
        EXPECT_TRUE(scorer.next().empty());
    }
}

TEST(OrderedScorer, AFailingSourceEndsTheInputAfterTheRecordsBeforeIt)
{
    const std::vector<Sequence> recs = records();
    for (int threads : {1, 3}) {
        for (size_t fail_at : {size_t(0), size_t(1), size_t(57)}) {
            OrderedScorer scorer(shipped(), from(recs, fail_at), threads);
            size_t seen = 0;
            try {
                for (auto batch = scorer.next(); !batch.empty(); batch = scorer.next()) seen += batch.size();
                FAIL() << "no failure";
            } catch (const std::runtime_error &e) {
                EXPECT_STREQ(e.what(), "source failed");
            }
            EXPECT_EQ(seen, fail_at);
            EXPECT_TRUE(scorer.next().empty());
        }
    }
}

TEST(OrderedScorer, AScorerLeftEarlyStops)
{
    std::vector<Sequence> recs;
    for (int i = 0; i < 40; i++)
        for (const Sequence &s : records()) recs.push_back(s);
    for (int threads : {2, 5}) {
        OrderedScorer scorer(shipped(), from(recs), threads);
        EXPECT_FALSE(scorer.next().empty());
    }
}

TEST(RegisterSegments, SplitWhereTheOffsetChangesAndTakeTheLowestPscore)
{
    Prediction p;
    p.length = 10;
    p.scored = true;
    p.score = {1, 2, 9, 3, 4, 5, 6, 7, 8, 0};
    p.offset = {0, 0, 0, 3, 3, 1, 1, 1, 4, 4};
    std::vector<RegisterSegment> segs;
    register_segments(p, Region{2, 8, 9.0}, segs);
    ASSERT_EQ(segs.size(), 4u);
    const int32_t want[4][2] = {{2, 2}, {3, 4}, {5, 7}, {8, 8}};
    const char regs[4] = {'c', 'g', 'g', 'f'};  // (i + offset) mod 7 at each segment's start
    for (size_t k = 0; k < 4; k++) {
        EXPECT_EQ(segs[k].from, want[k][0]);
        EXPECT_EQ(segs[k].to, want[k][1]);
        EXPECT_EQ(segs[k].reg, regs[k]);
    }
    EXPECT_EQ(lowest_pscore(shipped(), p, Region{2, 8, 9.0}), residue_pscore(shipped().pscores, 9.0));
    EXPECT_EQ(lowest_pscore(shipped(), p, Region{3, 4, 4.0}), residue_pscore(shipped().pscores, 4.0));
}
