// The generic dataset layer over an in-memory cursor: navigation flags at
// the edges, editing transitions and their events, error events, the
// required-field check, field lookup, data links and the error texts.
#include <gtest/gtest.h>

#include <algorithm>

#include "memory_dataset.h"
#include "support/error_text.h"

namespace quill::test {
namespace {

using Log = std::vector<std::string>;

class LayerTest : public ::testing::Test {
 protected:
  void OpenWith(int rows) {
    ds.MakeRows(rows);
    ds.OpenDataset();
    ds.ClearLog();
  }
  TMemoryDataSet ds;
};

// --- Navigation ----------------------------------------------------------------

TEST_F(LayerTest, OpenShowsFirstRowWithBofAndMoveNextStopsAtLastRow) {
  OpenWith(3);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.ActiveId(), 0);
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.MoveRows(1), 1);
  EXPECT_EQ(ds.ActiveId(), 1);
  EXPECT_FALSE(ds.Bof());
  EXPECT_EQ(ds.MoveRows(1), 1);
  EXPECT_EQ(ds.ActiveId(), 2);
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.MoveRows(1), 0);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.ActiveId(), 2);
}

TEST_F(LayerTest, MovingTowardASetFlagRaisesOnlyBeforeScroll) {
  OpenWith(3);
  ds.MovePrior();  // Bof is true right after the open
  EXPECT_EQ(ds.log, (Log{"BeforeScroll"}));
  EXPECT_EQ(ds.ActiveId(), 0);
  ds.MoveLast();
  ds.MoveNext();  // sets Eof
  ds.ClearLog();
  EXPECT_EQ(ds.MoveRows(1), 0);
  EXPECT_EQ(ds.log, (Log{"BeforeScroll"}));
  EXPECT_EQ(ds.ActiveId(), 2);
  EXPECT_EQ(ds.MoveRows(0), 0);
}

TEST_F(LayerTest, FirstAndLastSetTheirFlagsAndLargeMovesStopAtTheEnds) {
  OpenWith(5);
  ds.MoveLast();
  EXPECT_EQ(ds.ActiveId(), 4);
  EXPECT_TRUE(ds.Eof());
  EXPECT_FALSE(ds.Bof());
  EXPECT_EQ(ds.MoveRows(-10), -4);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.ActiveId(), 0);
  EXPECT_EQ(ds.MoveRows(3), 3);
  EXPECT_EQ(ds.ActiveId(), 3);
  ds.MoveFirst();
  EXPECT_EQ(ds.ActiveId(), 0);
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
}

TEST_F(LayerTest, EmptyResultHasBothFlagsAndNothingToMove) {
  OpenWith(0);
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.MoveRows(1), 0);
  ds.MoveFirst();
  ds.MoveLast();
  EXPECT_TRUE(ds.Bof() && ds.Eof());
  EXPECT_EQ(ds.ActiveId(), -1);
  EXPECT_EQ(ds.ActiveRecordBuffer(), nullptr);
  EXPECT_EQ(MessageOf([&] { ds.DeleteRecord(); }),
            "Cannot perform this operation on an empty dataset");
}

TEST_F(LayerTest, ClosedDatasetRefusesWorkAndNamesItself) {
  EXPECT_EQ(MessageOf([&] { ds.MoveNext(); }), "Cannot perform this operation on a closed dataset");
  ds.SetName("orders");
  EXPECT_EQ(MessageOf([&] { ds.MoveFirst(); }),
            "orders: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(MessageOf([&] { ds.DeleteRecord(); }),
            "orders: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(MessageOf([&] { ds.BeginEdit(); }),
            "orders: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(MessageOf([&] { ds.RequireField("x"); }), "orders: Field 'x' not found");
}

TEST_F(LayerTest, BookmarksReturnToTheirRow) {
  OpenWith(4);
  ds.MoveRows(2);
  const std::optional<int64_t> mark = ds.GetBookmark();
  ASSERT_TRUE(mark.has_value());
  ds.MoveFirst();
  ds.GotoBookmark(*mark);
  EXPECT_EQ(ds.ActiveId(), 2);
  EXPECT_EQ(ds.CompareBookmarks(0, *mark), -1);
  EXPECT_EQ(ds.CompareBookmarks(*mark, 0), 1);
  EXPECT_EQ(MessageOf([&] { ds.GotoBookmark(9); }), "Record not found");
  EXPECT_EQ(ds.ActiveId(), 2);
}

// --- Open and close ---------------------------------------------------------------

TEST_F(LayerTest, OpenAndCloseRaiseTheirEventsAroundTheCursor) {
  ds.MakeRows(1);
  ds.SetActive(true);
  EXPECT_EQ(ds.log, (Log{"BeforeOpen", "OpenResult", "AfterOpen"}));
  EXPECT_EQ(ds.FieldCount(), 2);
  EXPECT_TRUE(ds.DefaultFields());
  ds.ClearLog();
  ds.SetActive(true);  // no second open
  EXPECT_TRUE(ds.log.empty());
  ds.SetActive(false);
  EXPECT_EQ(ds.log, (Log{"BeforeClose", "CloseResult", "AfterClose"}));
  EXPECT_EQ(ds.FieldCount(), 0);
  EXPECT_EQ(ds.BufferCount(), 0);
  EXPECT_FALSE(ds.DefaultFields());
}

TEST_F(LayerTest, FailedOpenLeavesDatasetInactiveWithTheOpenError) {
  ds.fail_open = true;
  ds.fail_close = true;  // the cleanup's failure must not hide the open's
  EXPECT_EQ(MessageOf([&] { ds.OpenDataset(); }), "open failed");
  EXPECT_EQ(ds.State(), dsInactive);
  EXPECT_EQ(ds.log, (Log{"BeforeOpen", "OpenResult", "CloseResult"}));
  ds.fail_open = false;
  ds.fail_close = false;
  ds.MakeRows(2);
  ds.OpenDataset();
  EXPECT_EQ(ds.ActiveId(), 0);
}

TEST_F(LayerTest, DestroyingAnOpenDatasetClosesItWithoutCloseEvents) {
  auto owned = std::make_unique<TMemoryDataSet>();
  std::vector<std::string>* log = &owned->log;
  owned->MakeRows(1);
  owned->OpenDataset();
  int close_events = 0;
  owned->BeforeClose = [&](TDataSet&) { ++close_events; };
  owned->AfterClose = [&](TDataSet&) { ++close_events; };
  log->clear();
  owned.reset();
  EXPECT_EQ(close_events, 0);
}

// --- Editing ----------------------------------------------------------------------------

TEST_F(LayerTest, EditPostWritesBackAndRaisesEventsInOrder) {
  OpenWith(3);
  ds.MoveNext();
  ds.ClearLog();
  ds.BeginEdit();
  EXPECT_EQ(ds.State(), dsEdit);
  ds.RequireField("name").SetAsString("changed");
  EXPECT_TRUE(ds.Modified());
  ds.PostRecord();
  EXPECT_EQ(ds.log, (Log{"BeforeEdit", "HookEditStart", "AfterEdit", "BeforePost", "HookPost",
                         "AfterPost"}));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows[1][1], "changed");
  EXPECT_EQ(ds.ActiveId(), 1);
  EXPECT_FALSE(ds.Bof() || ds.Eof());
}

TEST_F(LayerTest, NavigationPostsAChangedRecordAndCancelsAnUnchangedOne) {
  OpenWith(3);
  ds.BeginEdit();
  ds.RequireField("name").SetAsString("x");
  ds.ClearLog();
  ds.MoveNext();
  EXPECT_EQ(ds.log.front(), "BeforePost");
  EXPECT_EQ(ds.rows[0][1], "x");
  EXPECT_EQ(ds.ActiveId(), 1);

  ds.BeginEdit();
  ds.ClearLog();
  ds.MoveNext();
  EXPECT_EQ(ds.log.front(), "BeforeCancel");
  EXPECT_EQ(std::count(ds.log.begin(), ds.log.end(), "HookPost"), 0);
  EXPECT_EQ(ds.ActiveId(), 2);
}

TEST_F(LayerTest, EditOnEmptyDatasetStartsAnInsert) {
  OpenWith(0);
  ds.BeginEdit();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.log, (Log{"BeforeInsert", "BeforeScroll", "HookInsertStart", "OnNewRecord",
                         "AfterInsert", "AfterScroll"}));
  ds.RequireField("id").SetAsInteger(7);
  ds.PostRecord();
  ASSERT_EQ(ds.rows.size(), 1u);
  EXPECT_EQ(ds.ActiveId(), 7);
  EXPECT_FALSE(ds.Bof() || ds.Eof());
}

TEST_F(LayerTest, InsertGoesBeforeTheActiveRowAndAppendAfterTheLast) {
  OpenWith(3);
  ds.MoveNext();
  ds.BeginInsert();
  ds.RequireField("id").SetAsInteger(10);
  ds.PostRecord();
  EXPECT_EQ(ds.rows[1][0], "10");
  EXPECT_EQ(ds.rows[2][0], "1");
  EXPECT_EQ(ds.ActiveId(), 10);

  ds.BeginAppend();
  EXPECT_FALSE(ds.Bof());
  ds.RequireField("id").SetAsInteger(20);
  ds.PostRecord();
  EXPECT_EQ(ds.rows.back()[0], "20");
  EXPECT_EQ(ds.ActiveId(), 20);
}

TEST_F(LayerTest, CancelOfAnInsertReturnsToTheRowThatWasActive) {
  OpenWith(3);
  ds.MoveNext();
  ds.BeginInsert();
  ds.ClearLog();
  ds.CancelRecord();
  EXPECT_EQ(ds.log, (Log{"BeforeCancel", "BeforeScroll", "HookCancel", "AfterCancel",
                         "AfterScroll"}));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.ActiveId(), 1);
  EXPECT_EQ(ds.rows.size(), 3u);
  ds.CancelRecord();  // nothing in browse state
  EXPECT_EQ(ds.log.size(), 5u);
}

TEST_F(LayerTest, FailingNewRecordHandlerReturnsToBrowseWithoutCancelHook) {
  OpenWith(2);
  ds.OnNewRecord = [](TDataSet&) { throw EDatabaseError("no new rows today"); };
  EXPECT_EQ(MessageOf([&] { ds.BeginInsert(); }), "no new rows today");
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(std::count(ds.log.begin(), ds.log.end(), "HookCancel"), 0);
  EXPECT_EQ(ds.ActiveId(), 0);
}

TEST_F(LayerTest, DeleteOfTheOnlyRowLeavesAnEmptyDataset) {
  OpenWith(1);
  ds.DeleteRecord();
  EXPECT_EQ(ds.log, (Log{"BeforeDelete", "BeforeScroll", "HookDelete", "AfterDelete",
                         "AfterScroll"}));
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof() && ds.Eof());
}

TEST_F(LayerTest, DeleteOfTheLastRowShowsTheNewLastRow) {
  OpenWith(3);
  ds.MoveLast();
  ds.DeleteRecord();
  EXPECT_EQ(ds.ActiveId(), 1);
  EXPECT_FALSE(ds.Bof() || ds.Eof());
}

TEST_F(LayerTest, DeleteWhileInsertingCancelsTheInsert) {
  OpenWith(2);
  ds.BeginInsert();
  ds.ClearLog();
  ds.DeleteRecord();
  EXPECT_EQ(std::count(ds.log.begin(), ds.log.end(), "HookDelete"), 0);
  EXPECT_EQ(std::count(ds.log.begin(), ds.log.end(), "HookCancel"), 1);
  EXPECT_EQ(ds.rows.size(), 2u);
}

TEST_F(LayerTest, PostOutsideEditingFails) {
  OpenWith(2);
  EXPECT_EQ(MessageOf([&] { ds.PostRecord(); }), "Dataset not in edit or insert mode");
  ds.SetName("orders");
  EXPECT_EQ(MessageOf([&] { ds.PostRecord(); }), "orders: Dataset not in edit or insert mode");
}

TEST_F(LayerTest, ReadOnlyDatasetRefusesEveryModification) {
  OpenWith(2);
  ds.read_only = true;
  const std::string refused = "Cannot modify a read-only dataset";
  EXPECT_EQ(MessageOf([&] { ds.BeginEdit(); }), refused);
  EXPECT_EQ(MessageOf([&] { ds.BeginInsert(); }), refused);
  EXPECT_EQ(MessageOf([&] { ds.BeginAppend(); }), refused);
  EXPECT_EQ(MessageOf([&] { ds.DeleteRecord(); }), refused);
  EXPECT_EQ(ds.rows.size(), 2u);
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST_F(LayerTest, RequiredFieldBlocksPostWithoutTheDatasetName) {
  TMemoryDataSet named({{"id", ftInteger, true}, {"name", ftString}});
  named.SetName("orders");
  named.MakeRows(1);
  named.OpenDataset();
  named.BeginAppend();
  named.RequireField("id").SetDisplayLabel("Order number");
  EXPECT_EQ(MessageOf([&] { named.PostRecord(); }), "Field 'Order number' must have a value");
  EXPECT_EQ(named.State(), dsInsert);  // the script can correct and post again
  named.RequireField("id").SetAsInteger(5);
  named.PostRecord();
  EXPECT_EQ(named.rows.size(), 2u);
}

TEST_F(LayerTest, RequiredCheckSkipsReadOnlyFields) {
  TMemoryDataSet guarded({{"id", ftInteger, true, true}, {"name", ftString}});
  guarded.OpenDataset();
  guarded.BeginAppend();
  guarded.PostRecord();
  EXPECT_EQ(guarded.rows.size(), 1u);
}

// --- Error events -------------------------------------------------------------------------

TEST_F(LayerTest, PostErrorEventCanRetryAbortOrFail) {
  OpenWith(1);
  int calls = 0;
  ds.OnPostError = [&](TDataSet&, EDatabaseError& e, TDataAction& action) {
    EXPECT_STREQ(e.what(), "post failed");
    ++calls;
    action = TDataAction::Retry;
  };
  ds.fail_post_times = 2;
  ds.BeginEdit();
  ds.RequireField("name").SetAsString("y");
  ds.PostRecord();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(std::count(ds.log.begin(), ds.log.end(), "HookPost"), 3);
  EXPECT_EQ(ds.State(), dsBrowse);

  ds.OnPostError = [](TDataSet&, EDatabaseError&, TDataAction& action) {
    action = TDataAction::Abort;
  };
  ds.fail_post_times = 1;
  ds.BeginEdit();
  ds.RequireField("name").SetAsString("z");
  EXPECT_THROW(ds.PostRecord(), EAbort);
  EXPECT_EQ(ds.State(), dsEdit);

  ds.OnPostError = [](TDataSet&, EDatabaseError&, TDataAction&) {};  // leaves Fail
  ds.fail_post_times = 1;
  EXPECT_EQ(MessageOf([&] { ds.PostRecord(); }), "post failed");
  EXPECT_EQ(ds.State(), dsEdit);
}

TEST_F(LayerTest, FailuresOfOtherClassesSkipTheErrorEvent) {
  OpenWith(1);
  bool called = false;
  ds.OnPostError = [&](TDataSet&, EDatabaseError&, TDataAction&) { called = true; };
  ds.fail_post_with_logic_error = true;
  ds.BeginEdit();
  ds.RequireField("name").SetAsString("y");
  EXPECT_THROW(ds.PostRecord(), std::logic_error);
  EXPECT_FALSE(called);
}

TEST_F(LayerTest, RefreshRaisesAfterRefreshEvenWhenTheRequeryFails) {
  OpenWith(3);
  ds.MoveLast();
  ds.rows.pop_back();  // the server lost a row meanwhile
  ds.ClearLog();
  ds.RefreshRows();
  EXPECT_EQ(ds.log, (Log{"BeforeRefresh", "Requery", "AfterRefresh"}));
  EXPECT_EQ(ds.ActiveId(), 1);
  ds.fail_requery = true;
  ds.ClearLog();
  EXPECT_EQ(MessageOf([&] { ds.RefreshRows(); }), "requery failed");
  EXPECT_EQ(ds.log.back(), "AfterRefresh");
}

// --- Fields ---------------------------------------------------------------------------------

TEST_F(LayerTest, FieldsAreFoundIgnoringCase) {
  OpenWith(1);
  EXPECT_EQ(ds.LookupField("NAME"), &ds.Field(1));
  EXPECT_EQ(ds.LookupField("nope"), nullptr);
  EXPECT_EQ(MessageOf([&] { ds.RequireField("nope"); }), "Field 'nope' not found");
  EXPECT_THROW(ds.Field(2), EListError);
  EXPECT_EQ(MessageOf([&] { ds.Field(0).SetFieldName("Name"); }),
            "Duplicate field name 'Name'");
}

TEST_F(LayerTest, FieldWritesAreRefusedWhereTheyWouldBeLost) {
  TMemoryDataSet guarded({{"id", ftInteger, false, true}, {"name", ftString}});
  guarded.MakeRows(1);
  guarded.OpenDataset();
  EXPECT_EQ(MessageOf([&] { guarded.RequireField("name").SetAsString("x"); }),
            "Dataset not in edit or insert mode");
  guarded.BeginEdit();
  EXPECT_EQ(MessageOf([&] { guarded.RequireField("id").SetAsInteger(3); }),
            "Field 'id' cannot be modified");
  guarded.CancelRecord();
  EXPECT_EQ(guarded.rows[0][0], "0");
}

TEST_F(LayerTest, NullFieldReadsAsEmptyValues) {
  ds.rows = {{std::nullopt, std::nullopt}};
  ds.OpenDataset();
  TField& id = ds.RequireField("id");
  EXPECT_TRUE(id.IsNull());
  EXPECT_EQ(id.AsInteger(), 0);
  EXPECT_EQ(id.AsString(), "");
  EXPECT_TRUE(id.AsVariant().IsNull());
  EXPECT_EQ(ds.RequireField("name").DisplayText(), "");
}

// --- Consumers --------------------------------------------------------------------------------

TEST_F(LayerTest, LinksFollowStateScrollsAndChanges) {
  TDataSource source;
  RecordingLink link;
  link.SetDataSource(&source);
  source.SetDataSet(&ds);
  ds.MakeRows(3);
  ds.OpenDataset();
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(link.seen.front(), "active");
  link.seen.clear();
  ds.MoveNext();
  EXPECT_EQ(link.seen, (Log{"check", "scrolled -1"}));
  link.seen.clear();
  ds.BeginEdit();
  EXPECT_EQ(link.seen, (Log{"check", "editing", "record"}));
  link.seen.clear();
  ds.RequireField("name").SetAsString("n");
  EXPECT_EQ(link.seen, (Log{"field name"}));
  link.seen.clear();
  link.on_update_data = [&] { ds.RequireField("name").SetAsString("flushed"); };
  ds.PostRecord();
  EXPECT_EQ(ds.rows[1][1], "flushed");
  EXPECT_EQ(link.seen.front(), "update");
  link.on_update_data = nullptr;
  ds.CloseDataset();
  EXPECT_FALSE(link.Active());
}

TEST_F(LayerTest, DisabledControlsHearOneChangeWhenEnabled) {
  TDataSource source;
  RecordingLink link;
  link.SetDataSource(&source);
  source.SetDataSet(&ds);
  OpenWith(3);
  link.seen.clear();
  ds.DisableControls();
  ds.MoveNext();
  ds.MoveNext();
  EXPECT_TRUE(link.seen.empty());
  ds.EnableControls();
  EXPECT_EQ(link.seen, (Log{"changed"}));
}

TEST_F(LayerTest, DisabledSourceLooksInactiveToItsLinks) {
  TDataSource source;
  RecordingLink link;
  link.SetDataSource(&source);
  source.SetDataSet(&ds);
  OpenWith(1);
  EXPECT_TRUE(link.Active());
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  source.SetEnabled(true);
  EXPECT_TRUE(link.Active());
}

TEST_F(LayerTest, LinkAskingForMoreRecordsWidensTheWindow) {
  TDataSource source;
  RecordingLink link;
  link.SetDataSource(&source);
  source.SetDataSet(&ds);
  OpenWith(5);
  EXPECT_EQ(ds.BufferCount(), 1);
  link.SetBufferCount(3);
  EXPECT_EQ(ds.BufferCount(), 3);
  EXPECT_EQ(ds.WindowCount(), 3);
  EXPECT_EQ(ds.ActiveId(), 0);
  EXPECT_EQ(ds.MoveRows(4), 4);
  EXPECT_EQ(ds.ActiveId(), 4);
  EXPECT_EQ(ds.ActiveIndex(), 2);
  EXPECT_EQ(ds.MoveRows(-4), -4);
  EXPECT_EQ(ds.ActiveId(), 0);
  ds.MoveLast();
  EXPECT_EQ(ds.ActiveId(), 4);
  EXPECT_EQ(ds.WindowCount(), 3);
}

TEST_F(LayerTest, SourceAndDatasetForgetEachOtherWhenDestroyed) {
  auto source = std::make_unique<TDataSource>();
  RecordingLink link;
  link.SetDataSource(source.get());
  {
    TMemoryDataSet temporary;
    source->SetDataSet(&temporary);
    temporary.OpenDataset();
    EXPECT_TRUE(link.Active());
  }
  EXPECT_EQ(source->DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  source->SetDataSet(&ds);
  source.reset();
  EXPECT_EQ(link.DataSource(), nullptr);
  EXPECT_EQ(ds.DataSourceCount(), 0);
}

}  // namespace
}  // namespace quill::test
