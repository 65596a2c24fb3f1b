#include "import/grid_sizing.h"

#include <math.h>

#include <gtest/gtest.h>

namespace {

using vorlin::format::QzvGrid;

const double kThird = 0.3333333333333333;

// The grid over the box [0, x] x [0, y] x [0, z] for a point count.
QzvGrid Sized(double x, double y, double z, uint64_t points) {
  const double min[3] = {0, 0, 0}, max[3] = {x, y, z};
  QzvGrid grid;
  EXPECT_TRUE(vorlin::SizeGrid(min, max, points, grid)) << x << " " << points;
  return grid;
}

TEST(GridSizing, CellSizeForCubesStripsAndPlanes) {
  const struct {
    double x, y, z;
    uint64_t points;
    double cellSize;
    int32_t nx, ny, nz;  // 0: not checked
  } cases[] = {
      // The target cell count is clamped to 1000 .. 1,000,000 by the count.
      {1, 1, 1, 0, 1.0 / pow(1000.0, kThird), 0, 0, 0},
      {1, 1, 1, 100000000, 1.0 / pow(1000.0, kThird), 0, 0, 0},
      {1, 1, 1, 100000000001ull, 1.0 / pow(1e6, kThird), 0, 0, 0},
      {1, 1, 1, 300000000, 1.0 / pow(3000.0, kThird), 15, 15, 15},
      // One significant axis: about T cells along it.
      {1000, 0.5, 0.25, 10, 1.0, 1001, 1, 1},
      // Two significant axes use the cube root; the flat axis gets one cell.
      {10, 10, 0.05, 10, 10.0 / pow(1000.0, kThird), 0, 0, 1},
      // An axis at exactly a hundredth of the others is still significant.
      {100, 100, 1, 10, 100.0 / pow(1000.0 / 0.01, kThird), 0, 0, 0},
  };
  for (const auto& c : cases) {
    QzvGrid g = Sized(c.x, c.y, c.z, c.points);
    EXPECT_NEAR(g.cellSize, c.cellSize, 1e-12 * c.cellSize) << c.x << " " << c.points;
    EXPECT_TRUE(c.nx == 0 || (g.nx == c.nx && g.ny == c.ny)) << c.x;
    EXPECT_TRUE(c.nz == 0 || g.nz == c.nz) << c.x;
    EXPECT_DOUBLE_EQ(g.centre[0], c.x / 2);
  }
}

TEST(GridSizing, UnusableBoxesAreRefused) {
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
    QzvGrid grid;
    EXPECT_FALSE(vorlin::SizeGrid(c.min, c.max, 10, grid)) << c.max[0];
  }
  double one[3] = {1, 2, 3}, same[3] = {1, 2, 3};
  vorlin::ApplyOnePointRule(one, same);
  EXPECT_TRUE(same[0] == 2 && same[1] == 3 && same[2] == 4);
}

TEST(GridSizing, RefinementShrinksTheCellOnceForAnOverfullCell) {
  const QzvGrid g = Sized(10, 10, 10, 1);
  QzvGrid r;
  EXPECT_FALSE(vorlin::RefineGrid(g, 1500000u, r));
  EXPECT_TRUE(vorlin::RefineGrid(g, 1500001u, r));
  // 8,000,000 points in the fullest cell: cube root 200, s * 80 / 200.
  ASSERT_TRUE(vorlin::RefineGrid(g, 8000000u, r));
  EXPECT_NEAR(r.cellSize, 0.4 * g.cellSize, 1e-12);
  EXPECT_EQ(r.nx, int32_t(trunc(10.0 / r.cellSize)) + 1);

  // Large grids are not refined, nor when refining would need more cells
  // than an index can hold.
  QzvGrid large = Sized(1, 1, 1, 1);
  large.cellSize = 1.0 / 96.0;
  large.nx = large.ny = large.nz = 97;  // 912,673 cells
  EXPECT_FALSE(vorlin::RefineGrid(large, 4000000000u, r));
  large.nx = large.ny = large.nz = 95;  // 857,375 cells
  large.cellSize = 1.0 / 94.0;
  EXPECT_FALSE(vorlin::RefineGrid(large, 4000000000u, r));
}

}  // namespace
