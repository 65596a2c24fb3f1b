// A QZV file through the engine: open, a frustum query, the three ways of
// fetching points, and the copy to version 3.
#include <vector>

#include "fuzz_support.h"
#include "vorlin/qv_vorlin.h"

namespace {

namespace vs = Zelvane::Vorlin;

// Looks along +z through the left half of the extents, near at minZ, far at
// maxZ, so that some cells are inside, some outside and some cut.
vs::VorlinViewFrustum HalfBoxFrustum(vs::QvVorlin* engine) {
  double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
  engine->getExtents(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]);
  const double midX = lo[0] + (hi[0] - lo[0]) * 0.5;
  vs::VorlinViewFrustum f;
  f.setNearUpperRight(midX, hi[1], lo[2]);
  f.setNearUpperLeft(lo[0], hi[1], lo[2]);
  f.setNearLowerLeft(lo[0], lo[1], lo[2]);
  f.setNearLowerRight(midX, lo[1], lo[2]);
  f.setFarUpperRight(midX, hi[1], hi[2]);
  f.setFarUpperLeft(lo[0], hi[1], hi[2]);
  f.setFarLowerLeft(lo[0], lo[1], hi[2]);
  f.setFarLowerRight(midX, lo[1], hi[2]);
  f.setNearClip(true);
  f.setFarClip(true);
  return f;
}

void Exercise(vs::QvVorlin* engine, bool clip) {
  vs::IPointCloudFilter* filter = engine->createViewFrustumFilter(HalfBoxFrustum(engine));
  if (!filter) return;
  if (clip) engine->setClipFilter(filter);
  vs::IPointCloudQuery* query = engine->createQuery(filter, clip);
  if (!query) {
    filter->release();
    return;
  }
  unsigned long long first = 0, second = 0;
  engine->getQueryCounts(query, first, second);
  std::vector<vs::CellPoint> buffer(257);
  const unsigned size = unsigned(buffer.size());
  engine->getPoints(query, buffer.data(), size);

  // Sets and cursors end by returning 0; the caps only stop a runaway.
  vs::IPointSetData* set = nullptr;
  unsigned got = engine->createPointSet(query, buffer.data(), size, 600, &set);
  for (int i = 0; set && got && i < 64; ++i)
    got = engine->getPointSetPoints(query, buffer.data(), size, set);
  if (set) set->release();

  vs::IPointCloudCursor* cursor = nullptr;
  got = engine->createCursor(query, buffer.data(), 31, &cursor);
  for (int i = 0; cursor && got && i < 64; ++i)
    got = engine->getCursorPoints(query, buffer.data(), 31, cursor);
  if (cursor) cursor->release();

  query->release();
  if (clip) engine->setClipFilter(nullptr);
  filter->release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorlin_fuzz::Workspace& ws = vorlin_fuzz::Workspace::Get();
  if (!vorlin_fuzz::Workspace::WriteFile(ws.file("in.qzv"), data, size)) abort();
  const std::wstring input = ws.wfile("in.qzv");
  const std::wstring output = ws.wfile("out.qzv");

  vs::QvVorlin* engine = vs::QvVorlin::create();
  // Half of the inputs run with the background loader, chosen by the input
  // itself so that a run repeats.
  const int budget = (size & 1) ? 1 << 16 : 0;
  if (engine->open(input.c_str(), budget)) {
    unsigned version = 0, revision = 0;
    engine->getVersion(version, revision);
    engine->totalPointCount();
    bool present = false;
    engine->hasAttribute(L"Intensity", present);
    Exercise(engine, false);
    Exercise(engine, true);
    if (engine->saveAsVersion(output.c_str(), 3)) {
      vs::QvVorlin* copy = vs::QvVorlin::create();
      if (!copy->open(output.c_str(), 0) || copy->totalPointCount() != engine->totalPointCount()) {
        fprintf(stderr, "version-3 copy does not open with the same points\n");
        abort();
      }
      vs::QvVorlin::destroy(copy);
    }
  }
  vs::QvVorlin::destroy(engine);
  ws.CheckAndReset();
  return 0;
}
