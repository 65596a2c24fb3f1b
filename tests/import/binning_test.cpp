#include <math.h>

#include <gtest/gtest.h>

#include "import/source_pass.h"
#include "import_test_support.h"
#include "support/temp_dir.h"

namespace {

using import_test::At;
using import_test::Point;
using import_test::RecordingProgress;
using import_test::Script;

// One reader over a 2 x 2 x 2 grid on the box [0, 2]^3.
struct Binner {
  vorlin_test::TempDir dir;
  vorlin_test::ScopedTmpDir tmp{dir.path().string()};
  std::vector<std::string> log;
  std::unique_ptr<Zelvane::Vorlin::IReader> reader;
  vorlin::SourcePass pass;
  vorlin::CellArray cells;
  vorlin::format::QzvGrid grid;
  uint64_t announced = 0;
  RecordingProgress* progress = nullptr;

  template <class Reader>
  void Use(const Script& script, uint64_t count) {
    reader.reset(new Reader("a", script, &log));
    Zelvane::Vorlin::IReader* readers[1] = {reader.get()};
    const wchar_t* names[1] = {L"a"};
    ASSERT_EQ(pass.Gather(names, readers, 1), Zelvane::Vorlin::Ok);
    for (int a = 0; a < 3; ++a) grid.boundsMin[a] = 0, grid.boundsMax[a] = 2, grid.centre[a] = 1;
    grid.cellSize = 1.0;
    grid.nx = grid.ny = grid.nz = 2;
    announced = count;
  }
  bool Bin() { return pass.Bin(grid, announced, 0x1F, cells, progress); }
};

Script Points(size_t n, Point p) {
  Script s;
  s.points.assign(n, p);
  return s;
}

TEST(Binning, PollsEveryThousandPointsAndReportsInOrder) {
  Binner b;
  b.Use<import_test::PlainReader>(Points(2500, At(0.5, 0.5, 0.5)), 2500);
  RecordingProgress progress;
  b.progress = &progress;
  ASSERT_TRUE(b.Bin());
  EXPECT_EQ(b.cells.Largest(), 2500u);
  EXPECT_EQ(progress.calls, (std::vector<std::string>{"range 20 70", "cancelled?", "progress 40", "cancelled?",
                                                       "progress 80", "progress 100", "range 70 100"}));

  // A count below 2 divides by the number of cells.
  Binner small;
  small.Use<import_test::PlainReader>(Points(1000, At(1, 1, 1)), 1);
  RecordingProgress perCell;
  small.progress = &perCell;
  ASSERT_TRUE(small.Bin());
  EXPECT_EQ(perCell.calls[2], "progress 12500");  // 1000 * 100 / 8 cells
}

TEST(Binning, BoundsAreInclusive) {
  for (Point p : {At(2.0000001, 1, 1), At(1, -1e-9, 1)}) {
    Binner b;
    b.Use<import_test::PlainReader>(Script{{At(1, 1, 1), p}}, 2);
    EXPECT_FALSE(b.Bin()) << p.x << " " << p.y;
  }
  // The corners themselves are binned, into the end cells.
  Binner corners;
  corners.Use<import_test::PlainReader>(Script{{At(0, 0, 0), At(2, 2, 2)}}, 2);
  ASSERT_TRUE(corners.Bin());
  EXPECT_TRUE(corners.cells.Cell(0, 0, 0).count == 1 && corners.cells.Cell(1, 1, 1).count == 1);
}

}  // namespace
