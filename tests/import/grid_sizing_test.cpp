#include <math.h>

#include <gtest/gtest.h>

#include "import/point_cloud_importer.h"

namespace {

using Zelvane::Vorlin::VorlinStatus;

const double kThird = 0.3333333333333333;

// A grid over the box [0, x] x [0, y] x [0, z] for the given point count.
void Size(PointCloudImporter& imp, double x, double y, double z, uint64_t points) {
  const double max[3] = {x, y, z};
  for (int a = 0; a < 3; ++a) imp.boundsMin[a] = 0.0, imp.boundsMax[a] = max[a];
  imp.totalPointCount = points;
  imp.ComputeExtentsAndCentre();
  imp.ComputeUniformGrid();
}

TEST(GridSizing, CellSizeForCubesStripsAndPlanes) {
  // The target cell count is clamped to 1000 .. 1,000,000 by the point count.
  const struct {
    uint64_t points;
    double target;
  } cubes[] = {{0, 1000}, {1, 1000}, {99999999, 1000}, {100000000, 1000},
               {100000000001ull, 1e6}, {5000000000000ull, 1e6}};
  for (const auto& c : cubes) {
    PointCloudImporter imp;
    Size(imp, 1, 1, 1, c.points);
    EXPECT_DOUBLE_EQ(imp.cellSize, 1.0 / pow(c.target, kThird)) << c.points;
  }
  // A cube of edge 1 with 300,000,000 points: T = 3000, 15 cells per axis.
  PointCloudImporter cube;
  Size(cube, 1, 1, 1, 300000000ull);
  EXPECT_NEAR(cube.cellSize, 0.0693, 1e-4);
  EXPECT_TRUE(cube.nx == 15 && cube.ny == 15 && cube.nz == 15);

  // One significant axis: about T cells along it.
  PointCloudImporter strip;
  Size(strip, 1000, 0.5, 0.25, 10);
  EXPECT_DOUBLE_EQ(strip.cellSize, 1.0);
  EXPECT_TRUE(strip.nx == 1001 && strip.ny == 1 && strip.nz == 1);
  // Two significant axes of equal extent still use the cube root; the flat
  // axis gets one cell.
  PointCloudImporter plane;
  Size(plane, 10, 10, 0.05, 10);
  EXPECT_DOUBLE_EQ(plane.cellSize, 10.0 / pow(1000.0, kThird));
  EXPECT_TRUE(plane.nz == 1 && plane.nx == plane.ny);
  // An axis at exactly one hundredth of the others is still significant.
  PointCloudImporter thin;
  Size(thin, 100, 100, 1, 10);
  EXPECT_DOUBLE_EQ(thin.cellSize, 100.0 / pow(1000.0 / 0.01, kThird));
}

TEST(GridSizing, UnusableBoxesAreRejectedAsOutOfExtents) {
  const double inf = INFINITY;
  const struct {
    double min[3], max[3];
  } cases[] = {
      {{0, 0, 0}, {0, 0, 0}},                       // no size at all
      {{1e30, 1e30, 1e30}, {-1e30, -1e30, -1e30}},  // nothing merged
      {{-1e308, 0, 0}, {1e308, 1, 1}},              // extent overflows
      {{0, 0, 0}, {inf, 1, 1}},
      {{0, 0, 0}, {NAN, 1, 1}},
      {{0, 0, 0}, {1e39, 1, 1}},  // offsets would not fit a float
  };
  for (const auto& c : cases) {
    PointCloudImporter imp;
    for (int a = 0; a < 3; ++a) imp.boundsMin[a] = c.min[a], imp.boundsMax[a] = c.max[a];
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
  Size(imp, 10, 10, 10, 1);
  const double s = imp.cellSize;
  EXPECT_FALSE(imp.RefineGrid(1500000u));
  EXPECT_EQ(imp.cellSize, s);
  // 8,000,000 points in the fullest cell: cube root 200, s * 80 / 200.
  ASSERT_TRUE(imp.RefineGrid(8000000u));
  EXPECT_NEAR(imp.cellSize, 0.4 * s, 1e-12);
  EXPECT_EQ(imp.nx, int32_t(trunc(10.0 / imp.cellSize)) + 1);
  PointCloudImporter justAbove;
  Size(justAbove, 10, 10, 10, 1);
  EXPECT_TRUE(justAbove.RefineGrid(1500001u));

  // Large grids are not refined, nor when refining would need more cells
  // than an index can hold.
  PointCloudImporter large;
  Size(large, 1, 1, 1, 1);
  large.cellSize = 1.0 / 96.0;
  large.nx = large.ny = large.nz = 97;  // 912,673 cells
  EXPECT_FALSE(large.RefineGrid(4000000000u));
  large.nx = large.ny = large.nz = 95;  // 857,375 cells
  large.cellSize = 1.0 / 94.0;
  EXPECT_FALSE(large.RefineGrid(4000000000u));
  EXPECT_EQ(large.nx, 95);
  EXPECT_DOUBLE_EQ(large.cellSize, 1.0 / 94.0);
}

}  // namespace
