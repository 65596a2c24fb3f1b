#include <math.h>

#include <gtest/gtest.h>

#include "import/point_cloud_importer.h"
#include "import_test_support.h"

namespace {

using Zelvane::Vorlin::VorlinStatus;

void SetBox(PointCloudImporter& imp, double x, double y, double z, uint64_t points) {
  for (int a = 0; a < 3; ++a) imp.boundsMin[a] = 0.0;
  imp.boundsMax[0] = x;
  imp.boundsMax[1] = y;
  imp.boundsMax[2] = z;
  imp.totalPointCount = points;
  imp.ComputeExtentsAndCentre();
}

TEST(GridSizing, TargetCellCountIsClampedByThePointCount) {
  const double cubeRootOf1000 = pow(1000.0, 0.3333333333333333);
  for (uint64_t points : {0ull, 1ull, 1000000ull, 99999999ull, 100000000ull}) {
    PointCloudImporter imp;
    SetBox(imp, 1, 1, 1, points);
    imp.ComputeUniformGrid();
    EXPECT_DOUBLE_EQ(imp.cellSize, 1.0 / cubeRootOf1000) << points;
  }
  for (uint64_t points : {100000000001ull, 5000000000000ull}) {
    PointCloudImporter imp;
    SetBox(imp, 1, 1, 1, points);
    imp.ComputeUniformGrid();
    EXPECT_DOUBLE_EQ(imp.cellSize, 1.0 / pow(1000000.0, 0.3333333333333333)) << points;
  }
  // A cube of edge 1 with 300,000,000 points: T = 3000, 15 cells per axis.
  PointCloudImporter imp;
  SetBox(imp, 1, 1, 1, 300000000ull);
  imp.ComputeUniformGrid();
  EXPECT_NEAR(imp.cellSize, 0.0693, 1e-4);
  EXPECT_EQ(imp.nx, 15);
  EXPECT_EQ(imp.ny, 15);
  EXPECT_EQ(imp.nz, 15);
}

TEST(GridSizing, StripsAndPlanes) {
  // One significant axis: about T cells along it.
  PointCloudImporter strip;
  SetBox(strip, 1000, 0.5, 0.25, 10);
  strip.ComputeUniformGrid();
  EXPECT_DOUBLE_EQ(strip.cellSize, 1.0);
  EXPECT_EQ(strip.nx, 1001);
  EXPECT_EQ(strip.ny, 1);
  EXPECT_EQ(strip.nz, 1);

  // Two significant axes of equal extent still use the cube root; the flat
  // axis gets one cell.
  PointCloudImporter plane;
  SetBox(plane, 10, 10, 0.05, 10);
  plane.ComputeUniformGrid();
  EXPECT_DOUBLE_EQ(plane.cellSize, 10.0 / pow(1000.0, 0.3333333333333333));
  EXPECT_EQ(plane.nz, 1);
  EXPECT_EQ(plane.nx, plane.ny);

  // An axis at exactly one hundredth of the others is still significant.
  PointCloudImporter thin;
  SetBox(thin, 100, 100, 1, 10);
  thin.ComputeUniformGrid();
  const double f = 1.0 * 1.0 * 0.01;
  EXPECT_DOUBLE_EQ(thin.cellSize, 100.0 / pow(1000.0 / f, 0.3333333333333333));
}

TEST(GridSizing, UnusableBoxesAreRejectedAsOutOfExtents) {
  const double inf = INFINITY;
  struct Case {
    double min[3], max[3];
  } cases[] = {
      {{0, 0, 0}, {0, 0, 0}},            // no size at all
      {{1e30, 1e30, 1e30}, {-1e30, -1e30, -1e30}},  // nothing merged
      {{-1e308, 0, 0}, {1e308, 1, 1}},   // extent overflows
      {{0, 0, 0}, {inf, 1, 1}},
      {{0, 0, 0}, {NAN, 1, 1}},
      {{0, 0, 0}, {1e39, 1, 1}},         // offsets would not fit a float
  };
  for (const Case& c : cases) {
    PointCloudImporter imp;
    for (int a = 0; a < 3; ++a) {
      imp.boundsMin[a] = c.min[a];
      imp.boundsMax[a] = c.max[a];
    }
    imp.totalPointCount = 10;
    imp.ComputeExtentsAndCentre();
    try {
      imp.ComputeUniformGrid();
      ADD_FAILURE() << "accepted box up to " << c.max[0];
    } catch (VorlinStatus s) {
      EXPECT_EQ(s, Zelvane::Vorlin::OutOfExtents);
    }
  }
}

TEST(GridSizing, RefinementShrinksTheCellOnceForAnOverfullCell) {
  PointCloudImporter imp;
  SetBox(imp, 10, 10, 10, 1);
  imp.ComputeUniformGrid();
  const double s = imp.cellSize;
  const int32_t n = imp.nx;

  EXPECT_FALSE(imp.RefineGrid(1500000u));
  EXPECT_EQ(imp.cellSize, s);

  // 8,000,000 points in the fullest cell: cube root 200, s * 80 / 200.
  ASSERT_TRUE(imp.RefineGrid(8000000u));
  EXPECT_NEAR(imp.cellSize, 0.4 * s, 1e-12);
  EXPECT_EQ(imp.nx, int32_t(trunc(10.0 / imp.cellSize)) + 1);
  EXPECT_GT(imp.nx, n);

  PointCloudImporter justAbove;
  SetBox(justAbove, 10, 10, 10, 1);
  justAbove.ComputeUniformGrid();
  EXPECT_TRUE(justAbove.RefineGrid(1500001u));
}

TEST(GridSizing, LargeGridsAreNotRefined) {
  PointCloudImporter imp;
  SetBox(imp, 1, 1, 1, 1);
  imp.cellSize = 1.0 / 96.0;
  imp.nx = imp.ny = imp.nz = 97;  // 912,673 cells
  EXPECT_FALSE(imp.RefineGrid(4000000000u));
  imp.nx = imp.ny = imp.nz = 95;  // 857,375 cells
  // Refining by a factor of about 20 would need more cells than an index
  // can hold; the grid stays as it is.
  imp.cellSize = 1.0 / 94.0;
  EXPECT_FALSE(imp.RefineGrid(4000000000u));
  EXPECT_EQ(imp.nx, 95);
  EXPECT_DOUBLE_EQ(imp.cellSize, 1.0 / 94.0);
}

TEST(GridSizing, RemeasuredSinglePositionGetsAUnitBox) {
  // One position (or many equal ones, or one beside NaN points) would leave
  // a box of no size; the one-point rule makes it griddable.
  std::vector<std::string> log;
  import_test::Script script;
  script.points = {import_test::At(7, 8, 9), import_test::At(7, 8, 9),
                   import_test::At(NAN, 1, 1)};
  import_test::PlainReader reader("a", script, &log);
  PointCloudImporter imp;
  imp.readers.push_back(&reader);
  imp.RemeasureExtents();
  EXPECT_EQ(imp.totalPointCount, 3u);
  EXPECT_EQ(imp.boundsMin[0], 7);
  EXPECT_EQ(imp.boundsMax[0], 8);
  EXPECT_EQ(imp.boundsMax[1], 9);
  EXPECT_EQ(imp.boundsMax[2], 10);
  imp.ComputeExtentsAndCentre();
  imp.ComputeUniformGrid();
  EXPECT_GT(imp.cellSize, 0.0);
  EXPECT_GE(imp.nx, 1);
}

}  // namespace
