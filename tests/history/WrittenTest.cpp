// The writer's news after each commit, which the open history window reads again on: it comes once the
// results are readable, and never for a job that failed.
#include "HistoryFixture.h"
#include <gtest/gtest.h>

namespace {

// What a reader saw each time the writer said it had written: the number of changes of "a".
struct TSeen
{
    std::mutex lock;
    std::vector<int> changes;
    THistoryStore::TWritten Sink(const QString &path)
    {
        return [this, path] {
            int count = -1;
            try {
                THistoryReader reader(path);
                count = int(reader.Changes(QStringLiteral("a"), kBase + 7200).size());
            } catch (const EHistoryError &) {
            }
            std::lock_guard guard(lock);
            changes.push_back(count);
        };
    }
    std::vector<int> Changes()
    {
        std::lock_guard guard(lock);
        return changes;
    }
};

TEST(HistoryWritten, ComesAfterEachCommitWithItsResultsReadable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    TSeen seen;
    {
        THistoryStore store(path, {}, {}, 0, seen.Sink(path));
        store.Record({Result("a", kBase, 3)});
        store.Record({Result("a", kBase + 300, 1)});
        store.Record({Result("a", kBase + 600, 1)}); // no change, still a commit
        store.Flush();
        // The opening (nothing of "a" yet), then each cycle.
        EXPECT_EQ(seen.Changes(), (std::vector<int>{0, 1, 2, 2}));
    }
    EXPECT_EQ(seen.Changes().size(), 4u) << "nothing more at the end";
}

TEST(HistoryWritten, NeverForAFailedJob)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/h.db")); // a folder that is not there
    TSeen seen;
    TReported reported;
    THistoryStore store(path, reported.Sink(), {}, 0, seen.Sink(path));
    store.Record({Result("a", kBase, 3)});
    store.Flush();
    EXPECT_TRUE(seen.Changes().empty());
    EXPECT_EQ(reported.Lines().size(), 1);
}

} // namespace
