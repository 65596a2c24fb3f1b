#ifndef VORLIN_VIEWER_VIEW_SERVICE_H
#define VORLIN_VIEWER_VIEW_SERVICE_H

// The viewer's server side without HTTP: the open tiles of one scene, the
// camera sessions of the pages looking at it, and the encoded answers.
//
// Threads: every public call may run on any thread at once. Each tile's
// engine is used under that tile's own lock (the engine serves one caller at
// a time); a session's state under the session's lock, taken before any tile
// lock. A newer camera of a session makes the older one's work stop at the
// next batch boundary and answer "stale".

#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../cli/qzv_summary.h"
#include "answer_writer.h"
#include "view_request.h"
#include "vorlin/vorlin.h"

namespace vorlin {
namespace viewer {

struct Reply {
  int status = 200;  // 200 points, 400 refused, 409 stale
  std::string contentType = "text/plain";
  std::string body;
};

// One QZV file of the scene, read through its own engine.
struct Tile {
  std::string name;  // file name without folders, shown by the page
  Zelvane::Vorlin::QvVorlin* engine = nullptr;
  std::mutex lock;
  double centre[3] = {0, 0, 0};
  double min[3] = {0, 0, 0};
  double max[3] = {0, 0, 0};
  uint64_t points = 0;
  bool rgb = false;
  bool intensity = false;
  bool custom = false;
  double shift[3] = {0, 0, 0};  // centre minus the scene's centre
  // The tool's own reading of the tables, for counting visible cells.
  cli::QzvSummary summary;
  std::vector<uint64_t> nonEmptyCells;
};

class ViewService {
 public:
  ViewService() = default;
  ~ViewService();
  ViewService(const ViewService&) = delete;
  ViewService& operator=(const ViewService&) = delete;

  // Opens every file with a share of preloadBytes for its engine; on failure
  // returns false with the reason in error and keeps nothing open.
  bool Open(const std::vector<std::string>& paths, uint64_t preloadBytes, std::string& error);

  // The scene as JSON: centre, bounds, point count and the tiles.
  std::string SceneJson(uint64_t defaultBudget) const;

  // A new camera: the first sample of its points. Body as ParseCameraRequest.
  Reply View(const std::string& body);
  // More points for the session's current camera. Body as ParseRefineRequest.
  Reply Refine(const std::string& body);

  size_t tileCount() const { return m_tiles.size(); }

  // Takes back the body of a sent answer, so that its memory serves again.
  void Recycle(std::string body);

 private:
  struct TileState;
  struct Session;
  std::shared_ptr<Session> FindSession(const std::string& id, bool create);
  // Appends up to count points of tile t from its cursor; false when the
  // session's camera changed meanwhile. Needs the session's lock.
  bool Advance(Session& session, size_t t, uint64_t count, AnswerWriter& answer,
               std::vector<Zelvane::Vorlin::CellPoint>& buffer);
  uint32_t CountVisibleCells(const Tile& tile, Zelvane::Vorlin::IPointCloudFilter& filter) const;
  Reply Finish(Session& session, AnswerWriter& answer);

  class BufferLease;
  std::string TakeStorage();

  std::vector<std::unique_ptr<Tile>> m_tiles;
  double m_centre[3] = {0, 0, 0};
  double m_min[3] = {0, 0, 0};
  double m_max[3] = {0, 0, 0};
  std::mutex m_sessionsLock;
  std::map<std::string, std::shared_ptr<Session>> m_sessions;
  uint64_t m_sessionClock = 0;
  // Memory kept from earlier answers (a few blocks at most).
  std::mutex m_poolLock;
  std::vector<std::string> m_storage;
  std::vector<std::vector<Zelvane::Vorlin::CellPoint>> m_buffers;
};

// The answer's binary layout, little-endian: a 48-byte header (magic "VZP1",
// u32 seq, u32 count, u32 flags with bit 0 "camera complete", u64 visible
// points, u64 target points, u64 points delivered for this camera so far, u32
// visible cells, u32 zero), then count float32 x,y,z offsets from the scene
// centre, count u32 colours (blue, green, red, intensity bytes), count custom
// bytes, count tile bytes, zero padding to a multiple of 4.
constexpr size_t kAnswerHeaderBytes = 48;

}  // namespace viewer
}  // namespace vorlin

#endif
