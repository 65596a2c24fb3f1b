#include "point_export.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "cli_common.h"
#include "interrupts.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

namespace {

// Passes only the cells of one run of table indices, then defers to the
// caller's filter. Cells are told apart by the centre of their box, which
// lies well inside the layer edges.
class CellRangeFilter final : public IPointCloudFilter {
 public:
  CellRangeFilter(IPointCloudFilter* inner, const QzvSummary& summary, uint64_t first, uint64_t end)
      : m_inner(inner), m_summary(summary), m_first(first), m_end(end) {}

  int classifyBox(double minX, double minY, double minZ, double maxX, double maxY, double maxZ) override {
    const double centre[3] = {(minX + maxX) / 2, (minY + maxY) / 2, (minZ + maxZ) / 2};
    uint64_t index[3];
    for (int a = 0; a < 3; ++a) {
      const std::vector<double>& edges = m_summary.upperEdges[a];
      size_t i = size_t(std::upper_bound(edges.begin(), edges.end(), centre[a]) - edges.begin());
      index[a] = std::min<uint64_t>(i, edges.size() - 1);
    }
    const uint64_t k = (index[0] * uint64_t(m_summary.cells[1]) + index[1]) * uint64_t(m_summary.cells[2]) + index[2];
    if (k < m_first || k >= m_end) return -1;
    return m_inner ? m_inner->classifyBox(minX, minY, minZ, maxX, maxY, maxZ) : 1;
  }
  bool containsPoint(float x, float y, float z) override {
    return m_inner ? m_inner->containsPoint(x, y, z) : true;
  }
  void prepareCell(const double* a, const double* b, const double* c, const double* d, const double* e,
                   const double* f, unsigned int g) override {
    if (m_inner) m_inner->prepareCell(a, b, c, d, e, f, g);
  }
  IPointCloudFilter* clone() override {
    IPointCloudFilter* inner = m_inner ? m_inner->clone() : nullptr;
    if (m_inner && !inner) return nullptr;
    return new CellRangeFilter(inner, m_summary, m_first, m_end);
  }
  void release() override {
    if (m_inner) m_inner->release();
    delete this;
  }
  bool reservedQuery() override { return m_inner ? m_inner->reservedQuery() : false; }
  void reservedNotify(unsigned int value) override {
    if (m_inner) m_inner->reservedNotify(value);
  }

 private:
  ~CellRangeFilter() = default;
  IPointCloudFilter* m_inner;  // owned by this object once cloned; see release
  const QzvSummary& m_summary;
  uint64_t m_first, m_end;
};

struct Block {
  uint64_t first = 0, end = 0;  // table indices [first, end)
  uint64_t points = 0;
  double lod = 0.0;
  uint64_t target = 0;
};

std::vector<Block> MakeBlocks(const QzvSummary& summary, const std::vector<bool>& visible, uint64_t limit) {
  std::vector<Block> blocks;
  Block current;
  for (uint64_t k = 0; k < summary.cellCount(); ++k) {
    if (!visible[k] || summary.counts[k] == 0) continue;
    if (current.points > 0 && current.points + summary.counts[k] > limit) {
      current.end = k;
      blocks.push_back(current);
      current = Block();
    }
    if (current.points == 0) current.first = k;
    current.points += summary.counts[k];
    current.lod += summary.lodValues[k] > 0.0f ? summary.lodValues[k] : 0.0;
  }
  if (current.points > 0) {
    current.end = summary.cellCount();
    blocks.push_back(current);
  }
  return blocks;
}

// Shares of wanted in proportion to the blocks' LOD sums (their points when
// no cell has a positive value), largest remainders first, so that they add
// up to wanted exactly.
void Apportion(std::vector<Block>& blocks, uint64_t wanted) {
  double total = 0.0;
  uint64_t points = 0;
  for (const Block& b : blocks) total += b.lod, points += b.points;
  if (wanted >= points) {
    for (Block& b : blocks) b.target = b.points;
    return;
  }
  std::vector<std::pair<double, size_t>> remainders;
  uint64_t given = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    double weight = total > 0.0 ? blocks[i].lod / total : double(blocks[i].points) / double(points);
    double exact = weight * double(wanted);
    blocks[i].target = std::min<uint64_t>(blocks[i].points, uint64_t(std::floor(exact)));
    given += blocks[i].target;
    remainders.push_back({exact - std::floor(exact), i});
  }
  std::sort(remainders.begin(), remainders.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t r = 0; given < wanted && r < remainders.size(); ++r) {
    Block& b = blocks[remainders[r].second];
    if (b.target < b.points) ++b.target, ++given;
  }
}

}  // namespace

ExportResult ExportPoints(QvVorlin* engine, const QzvSummary& summary, const std::vector<bool>& cellVisible,
                          const ExportRequest& request, PointWriter& writer) {
  ExportResult result;
  std::vector<Block> blocks =
      MakeBlocks(summary, cellVisible, std::min<uint64_t>(std::max<uint64_t>(request.blockPoints, 1), 1u << 28));
  Apportion(blocks, request.wanted);
  const bool clipped = request.clip && request.filter;
  std::vector<CellPoint> buffer;
  uint64_t carry = 0;  // shortfall of earlier blocks, made up by later ones
  for (const Block& block : blocks) {
    if (StopSignal() != 0 || writer.failed()) {
      result.stopped = StopSignal() != 0;
      break;
    }
    const uint64_t target = std::min(block.points, block.target + carry);
    if (target == 0) continue;
    IPointCloudFilter* filter = request.filter;
    if (blocks.size() > 1) filter = new CellRangeFilter(request.filter ? request.filter->clone() : nullptr, summary, block.first, block.end);
    Released<IPointCloudQuery> query(engine->createQuery(filter, clipped));
    if (filter != request.filter) filter->release();
    if (!query.get()) throw std::bad_alloc();
    uint64_t asked = target, got = 0;
    for (;;) {
      buffer.resize(size_t(asked));
      got = engine->getPoints(query.get(), buffer.data(), unsigned(asked));
      if (got >= target || !clipped || asked >= block.points || StopSignal() != 0) break;
      // Points fell outside the filter: ask for enough records to make up
      // the rest at the rate seen so far.
      double rate = got > 0 ? double(got) / double(asked) : 0.25;
      uint64_t next = uint64_t(double(target) / rate * 1.25) + 1;
      asked = std::min(block.points, std::max(asked * 2, next));
    }
    if (got == 0 && !clipped && block.lod > 0.0) result.readFailed = true;
    // An even pick when more came back than this block owes.
    const uint64_t take = std::min(got, target);
    if (take == got) {
      writer.Write(buffer.data(), size_t(got));
    } else {
      for (uint64_t i = 0; i < take; ++i) writer.Write(&buffer[size_t(i * got / take)], 1);
    }
    result.delivered += take;
    carry = block.target + carry - take;
  }
  if (StopSignal() != 0) result.stopped = true;
  return result;
}

}  // namespace cli
}  // namespace vorlin
