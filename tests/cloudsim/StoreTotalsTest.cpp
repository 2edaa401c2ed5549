// The stores keep each account's stored bytes as a running total (quota checks ask on every
// upload); it must always equal what a walk over the files would count.
#include "cloudsim/DriveStore.h"
#include "cloudsim/DropboxStore.h"

#include <gtest/gtest.h>

using namespace cloudsim;

namespace {

Blob blob(qint64 size) {
    return Blob{QStringLiteral("sha-%1").arg(size), size, {}, {}};
}

TEST(StoreTotals, DropboxCountsCurrentRevisionsThroughOverwritesRemovalsAndReloads) {
    DropboxStore store;
    store.commit("a", "/Big.bin", blob(1000), 0, 1);
    store.commit("a", "/big.bin", blob(300), 0, 2); // same file in another case: replaced
    store.commit("a", "/small.txt", blob(20), 0, 3);
    store.commit("b", "/other.txt", blob(7), 0, 4);
    EXPECT_EQ(store.usedBytes("a"), 320);
    EXPECT_TRUE(store.remove("a", "/big.bin"));
    EXPECT_FALSE(store.remove("a", "/big.bin"));
    EXPECT_EQ(store.usedBytes("a"), 20);
    EXPECT_EQ(store.usedBytes("b"), 7);
    EXPECT_EQ(store.usedBytes("nobody"), 0);

    DropboxStore reloaded;
    reloaded.fromJson(store.toJson());
    EXPECT_EQ(reloaded.usedBytes("a"), 20);
    reloaded.reset();
    EXPECT_EQ(reloaded.usedBytes("a"), 0);
}

TEST(StoreTotals, DriveCountsEveryKeptRevisionThroughTrimsFolderRemovalsAndReloads) {
    DriveStore store;
    DriveFile folder{.id = "folder", .name = "F", .mimeType = "application/vnd.google-apps.folder"};
    store.add("a", folder);
    DriveFile inside{.id = "inside", .name = "in.txt", .mimeType = "text/plain", .parents = {"folder"}};
    DriveFile& in = store.add("a", inside);
    store.addRevision(in, blob(100), 1);
    store.addRevision(in, blob(50), 2);
    DriveFile& many = store.add("a", DriveFile{.id = "many", .name = "many.bin", .mimeType = "text/plain"});
    for (int i = 0; i < DriveStore::maxRevisions + 5; ++i) // the oldest five fall away
        store.addRevision(many, blob(i < 5 ? 1000 : 1), 10 + i);
    DriveFile& elsewhere = store.add("b", DriveFile{.id = "b1", .name = "b.txt", .mimeType = "text/plain"});
    store.addRevision(elsewhere, blob(9), 1);
    EXPECT_EQ(store.usage("a"), 150 + DriveStore::maxRevisions);

    store.remove("a", "folder"); // takes the file inside with it
    EXPECT_EQ(store.usage("a"), DriveStore::maxRevisions);
    EXPECT_EQ(store.usage("b"), 9);

    DriveStore reloaded;
    reloaded.fromJson(store.toJson());
    EXPECT_EQ(reloaded.usage("a"), store.usage("a"));
}

} // namespace
