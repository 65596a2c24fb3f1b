#include "view_service.h"

#include <string.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "answer_writer.h"

namespace vorlin {
namespace viewer {

using namespace Zelvane::Vorlin;

namespace {

// Records are fetched in pieces of this many, so that a newer camera is
// noticed between pieces and the buffer stays small.
constexpr uint64_t kPieceRecords = 262144;
constexpr size_t kMaxSessions = 32;
constexpr size_t kPooledBlocks = 3;
// Tiles of a dataset open at once in the viewer (each with its share of the
// preload).
constexpr unsigned kDatasetOpenTiles = 64;

std::wstring Widen(const std::string& utf8) {
  std::wstring wide;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    wide.push_back(static_cast<wchar_t>(code));
    i += static_cast<size_t>(extra) + 1;
  }
  return wide;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonTriple(const double v[3]) {
  char text[128];
  snprintf(text, sizeof text, "[%.17g,%.17g,%.17g]", v[0], v[1], v[2]);
  return text;
}

Reply Refused(int status, const std::string& reason) {
  Reply reply;
  reply.status = status;
  reply.body = reason + "\n";
  return reply;
}

}  // namespace

// A record buffer from the service's pool, handed back on every way out.
class ViewService::BufferLease {
 public:
  explicit BufferLease(ViewService& service) : m_service(service) {
    std::lock_guard<std::mutex> guard(service.m_poolLock);
    if (!service.m_buffers.empty()) {
      records = std::move(service.m_buffers.back());
      service.m_buffers.pop_back();
    }
  }
  ~BufferLease() {
    std::lock_guard<std::mutex> guard(m_service.m_poolLock);
    if (m_service.m_buffers.size() < kPooledBlocks) m_service.m_buffers.push_back(std::move(records));
  }
  BufferLease(const BufferLease&) = delete;
  BufferLease& operator=(const BufferLease&) = delete;

  std::vector<CellPoint> records;

 private:
  ViewService& m_service;
};

std::string ViewService::TakeStorage() {
  std::lock_guard<std::mutex> guard(m_poolLock);
  if (m_storage.empty()) return std::string();
  std::string storage = std::move(m_storage.back());
  m_storage.pop_back();
  return storage;
}

void ViewService::Recycle(std::string body) {
  std::lock_guard<std::mutex> guard(m_poolLock);
  if (m_storage.size() < kPooledBlocks) m_storage.push_back(std::move(body));
}

struct ViewService::TileState {
  IPointCloudQuery* query = nullptr;
  IPointCloudCursor* cursor = nullptr;
  uint64_t visible = 0;
  uint64_t share = 0;       // points this tile owes the camera
  uint64_t firstTaken = 0;  // records the first answer took from the cells
  uint32_t visibleCells = 0;
  uint64_t delivered = 0;
  bool exhausted = false;
};

struct ViewService::Session {
  explicit Session(std::vector<std::unique_ptr<Tile>>& tiles) : tiles(tiles) {}
  ~Session() { Clear(); }

  // Releases the handles of the previous camera, each under its tile's lock.
  void Clear() {
    for (size_t t = 0; t < state.size(); ++t) {
      std::lock_guard<std::mutex> tileLock(tiles[t]->lock);
      if (state[t].cursor) state[t].cursor->release();
      if (state[t].query) state[t].query->release();
    }
    state.clear();
  }

  bool Current(uint32_t wanted) const { return latest.load() == wanted && seq == wanted; }

  std::vector<std::unique_ptr<Tile>>& tiles;
  std::atomic<uint32_t> latest{0};  // newest camera announced
  std::mutex lock;                  // guards everything below
  uint32_t seq = 0;                 // camera whose state is held
  std::vector<TileState> state;
  uint64_t visiblePoints = 0;
  uint64_t target = 0;
  uint64_t delivered = 0;
  uint32_t visibleCells = 0;
  uint64_t lastUse = 0;  // guarded by the service's sessions lock
};

ViewService::~ViewService() {
  m_sessions.clear();
  for (auto& tile : m_tiles) {
    if (tile->engine) QvVorlin::destroy(tile->engine);
  }
}

bool ViewService::Open(const std::vector<std::string>& paths, uint64_t preloadBytes,
                       std::string& error) {
  if (paths.empty() || paths.size() > 255) {
    error = "give 1 to 255 files";
    return false;
  }
  const uint64_t perFile =
      std::min<uint64_t>(preloadBytes / paths.size(), std::numeric_limits<int>::max());
  std::vector<std::unique_ptr<Tile>> tiles;
  for (const std::string& path : paths) {
    std::unique_ptr<Tile> tile(new Tile);
    const size_t slash = path.find_last_of('/');
    tile->name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A catalog (.json) is a dataset of tiles, read through one engine.
    const bool dataset = path.size() > 5 && path.compare(path.size() - 5, 5, ".json") == 0;
    tile->engine = dataset ? VorlinDataset::createDataset(kDatasetOpenTiles) : QvVorlin::create();
    tiles.push_back(std::move(tile));
    Tile& t = *tiles.back();
    if (!t.engine || !t.engine->open(Widen(path).c_str(), static_cast<int>(perFile))) {
      error = "'" + path + "' could not be opened as a " +
              (dataset ? "dataset catalog" : "QZV file");
      if (dataset && t.engine) {
        error += ": " + std::string(static_cast<VorlinDataset*>(t.engine)->catalogError());
      }
      for (auto& other : tiles) {
        if (other->engine) QvVorlin::destroy(other->engine);
      }
      return false;
    }
    t.engine->getCentre(t.centre[0], t.centre[1], t.centre[2]);
    t.engine->getExtents(t.min[0], t.min[1], t.min[2], t.max[0], t.max[1], t.max[2]);
    t.points = t.engine->totalPointCount();
    t.engine->hasAttribute(L"RGB", t.rgb);
    t.engine->hasAttribute(L"Intensity", t.intensity);
    t.engine->hasAttribute(L"CustomAttribute", t.custom);
    // A dataset has no cell table of its own: its visible cells count as
    // none, so a camera is complete once its tiles are spent or its share
    // delivered.
    std::string summaryError;
    if (!dataset && !cli::ReadQzvSummary(path, t.summary, summaryError)) {
      error = "'" + path + "': " + summaryError;
      for (auto& other : tiles) {
        if (other->engine) QvVorlin::destroy(other->engine);
      }
      return false;
    }
    for (uint64_t k = 0; k < t.summary.cellCount(); ++k) {
      if (t.summary.counts[k] > 0) t.nonEmptyCells.push_back(k);
    }
  }
  for (int a = 0; a < 3; ++a) {
    m_min[a] = tiles[0]->min[a];
    m_max[a] = tiles[0]->max[a];
    for (auto& tile : tiles) {
      m_min[a] = std::min(m_min[a], tile->min[a]);
      m_max[a] = std::max(m_max[a], tile->max[a]);
    }
    m_centre[a] = (m_min[a] + m_max[a]) / 2;
    for (auto& tile : tiles) tile->shift[a] = tile->centre[a] - m_centre[a];
  }
  m_tiles = std::move(tiles);
  return true;
}

std::string ViewService::SceneJson(uint64_t defaultBudget) const {
  uint64_t points = 0;
  std::string files;
  for (const auto& tile : m_tiles) {
    points += tile->points;
    if (!files.empty()) files += ",";
    files += "{\"name\":" + JsonString(tile->name) + ",\"points\":" + std::to_string(tile->points) +
             ",\"rgb\":" + (tile->rgb ? "true" : "false") +
             ",\"intensity\":" + (tile->intensity ? "true" : "false") +
             ",\"custom\":" + (tile->custom ? "true" : "false") + "}";
  }
  return "{\"centre\":" + JsonTriple(m_centre) + ",\"min\":" + JsonTriple(m_min) +
         ",\"max\":" + JsonTriple(m_max) + ",\"points\":" + std::to_string(points) +
         ",\"budget\":" + std::to_string(defaultBudget) +
         ",\"minBudget\":" + std::to_string(kMinBudget) +
         ",\"maxBudget\":" + std::to_string(kMaxBudget) + ",\"files\":[" + files + "]}\n";
}

std::shared_ptr<ViewService::Session> ViewService::FindSession(const std::string& id, bool create) {
  std::lock_guard<std::mutex> guard(m_sessionsLock);
  auto found = m_sessions.find(id);
  if (found != m_sessions.end()) {
    found->second->lastUse = ++m_sessionClock;
    return found->second;
  }
  if (!create) return nullptr;
  if (m_sessions.size() >= kMaxSessions) {
    // The least recently used session goes; a request still holding it
    // finishes with its own reference.
    auto oldest = m_sessions.begin();
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
      if (it->second->lastUse < oldest->second->lastUse) oldest = it;
    }
    m_sessions.erase(oldest);
  }
  auto session = std::make_shared<Session>(m_tiles);
  session->lastUse = ++m_sessionClock;
  m_sessions[id] = session;
  return session;
}

Reply ViewService::View(const std::string& body) {
  CameraRequest request;
  std::string error = ParseCameraRequest(body, request);
  if (!error.empty()) return Refused(400, error);
  VorlinViewFrustum frustum;
  if (!makeCameraFrustum(request.eye, request.target, request.up, request.fov, request.aspect,
                         request.nearDistance, request.farDistance, frustum)) {
    return Refused(400,
                   "the camera has no frustum: fov must lie in (0, 180), aspect be positive, "
                   "0 < near < far, eye differ from target and up not lie along the view");
  }
  std::shared_ptr<Session> session = FindSession(request.session, true);
  uint32_t seen = session->latest.load();
  do {
    if (request.seq <= seen) return Refused(409, "stale: a newer camera was sent");
  } while (!session->latest.compare_exchange_weak(seen, request.seq));

  std::lock_guard<std::mutex> sessionLock(session->lock);
  if (session->latest.load() != request.seq) return Refused(409, "stale: a newer camera was sent");
  session->Clear();
  session->seq = request.seq;
  session->state.resize(m_tiles.size());
  session->visiblePoints = 0;
  session->visibleCells = 0;
  std::vector<uint64_t> visible(m_tiles.size(), 0);
  for (size_t t = 0; t < m_tiles.size(); ++t) {
    Tile& tile = *m_tiles[t];
    std::lock_guard<std::mutex> tileLock(tile.lock);
    IPointCloudFilter* filter = tile.engine->createViewFrustumFilter(frustum);
    if (!filter) return Refused(500, "the engine made no filter");
    TileState& state = session->state[t];
    state.query = tile.engine->createQuery(filter, true);
    state.visibleCells = CountVisibleCells(tile, *filter);
    session->visibleCells += state.visibleCells;
    filter->release();
    unsigned long long first = 0, total = 0;
    if (state.query) tile.engine->getQueryCounts(state.query, first, total);
    state.visible = visible[t] = first;
    session->visiblePoints += first;
  }
  const std::vector<uint64_t> shares = SplitBudget(request.budget, visible);
  const std::vector<uint64_t> firsts = SplitBudget(request.first, shares);
  session->target = 0;
  AnswerWriter answer(static_cast<size_t>(request.first), TakeStorage());
  for (size_t t = 0; t < m_tiles.size(); ++t) {
    session->state[t].share = shares[t];
    session->target += shares[t];
  }
  BufferLease lease(*this);
  std::vector<CellPoint>& buffer = lease.records;
  for (size_t t = 0; t < m_tiles.size(); ++t) {
    if (session->latest.load() != request.seq) return Refused(409, "stale: a newer camera was sent");
    TileState& state = session->state[t];
    if (firsts[t] == 0 || !state.query) continue;
    Tile& tile = *m_tiles[t];
    if (buffer.size() < firsts[t]) buffer.resize(static_cast<size_t>(firsts[t]));
    unsigned int got = 0;
    {
      std::lock_guard<std::mutex> tileLock(tile.lock);
      got = tile.engine->getPoints(state.query, buffer.data(), static_cast<unsigned int>(firsts[t]));
    }
    state.firstTaken = firsts[t];
    state.delivered = got;
    state.exhausted = firsts[t] >= state.visible;
    answer.Add(tile.shift, static_cast<uint8_t>(t), buffer.data(), got);
  }
  session->delivered = answer.count();
  return Finish(*session, answer);
}

Reply ViewService::Refine(const std::string& body) {
  RefineRequest request;
  std::string error = ParseRefineRequest(body, request);
  if (!error.empty()) return Refused(400, error);
  std::shared_ptr<Session> session = FindSession(request.session, false);
  if (!session) return Refused(400, "unknown session: send a camera first");
  if (session->latest.load() != request.seq) return Refused(409, "stale: a newer camera was sent");
  std::lock_guard<std::mutex> sessionLock(session->lock);
  if (!session->Current(request.seq)) return Refused(409, "stale: a newer camera was sent");
  std::vector<uint64_t> owed(m_tiles.size(), 0);
  for (size_t t = 0; t < m_tiles.size(); ++t) {
    const TileState& state = session->state[t];
    if (!state.exhausted && state.delivered < state.share) owed[t] = state.share - state.delivered;
  }
  const std::vector<uint64_t> batch = SplitBudget(request.count, owed);
  AnswerWriter answer(static_cast<size_t>(request.count), TakeStorage());
  BufferLease lease(*this);
  for (size_t t = 0; t < m_tiles.size(); ++t) {
    if (batch[t] == 0) continue;
    if (!Advance(*session, t, batch[t], answer, lease.records)) {
      return Refused(409, "stale: a newer camera was sent");
    }
  }
  session->delivered += answer.count();
  return Finish(*session, answer);
}

bool ViewService::Advance(Session& session, size_t t, uint64_t count, AnswerWriter& answer,
                          std::vector<CellPoint>& buffer) {
  TileState& state = session.state[t];
  Tile& tile = *m_tiles[t];
  if (buffer.size() < kPieceRecords) buffer.resize(kPieceRecords);
  // A cursor batch rounds every cell's share down and carries the fractions
  // to the next batch, so a batch smaller than the number of visible cells
  // may bring nothing although records are left; only a larger one that
  // brings nothing means the cells are spent.
  const uint64_t spentBelow = state.visibleCells + 1;
  if (!state.cursor) {
    // The cursor's first batches hold the leading records of every cell,
    // which the first answer already sent: they are drawn and dropped, so
    // the refinement continues behind them (up to a remainder smaller than
    // the cell count, which may come twice).
    uint64_t skip = state.firstTaken;
    {
      std::lock_guard<std::mutex> tileLock(tile.lock);
      const unsigned int piece = static_cast<unsigned int>(std::min<uint64_t>(skip, kPieceRecords));
      skip -= std::min<uint64_t>(
          skip, tile.engine->createCursor(state.query, buffer.data(), piece, &state.cursor));
    }
    if (!state.cursor) {
      state.exhausted = true;
      return true;
    }
    while (skip > spentBelow) {
      if (session.latest.load() != session.seq) return false;
      const unsigned int piece = static_cast<unsigned int>(std::min<uint64_t>(skip, kPieceRecords));
      unsigned int got = 0;
      {
        std::lock_guard<std::mutex> tileLock(tile.lock);
        got = tile.engine->getCursorPoints(state.query, buffer.data(), piece, state.cursor);
      }
      if (got == 0) {
        state.exhausted = true;
        return true;
      }
      skip -= std::min<uint64_t>(skip, got);
    }
  }
  uint64_t left = count;
  while (left > 0) {
    if (session.latest.load() != session.seq) return false;
    const unsigned int piece = static_cast<unsigned int>(std::min<uint64_t>(left, kPieceRecords));
    unsigned int got = 0;
    {
      std::lock_guard<std::mutex> tileLock(tile.lock);
      got = tile.engine->getCursorPoints(state.query, buffer.data(), piece, state.cursor);
    }
    if (got == 0) {
      state.exhausted = piece >= spentBelow;
      break;
    }
    // Clipped records past the accepted ones carry NaN positions; the writer
    // drops them, while the share counts what the cells gave up.
    answer.Add(tile.shift, static_cast<uint8_t>(t), buffer.data(), got);
    state.delivered += got;
    left -= std::min<uint64_t>(left, got);
    // A short batch left its rounding in the cells' fractions; the next
    // request collects it.
    if (got < piece) break;
  }
  return true;
}

uint32_t ViewService::CountVisibleCells(const Tile& tile, IPointCloudFilter& filter) const {
  uint32_t visible = 0;
  double lo[3], hi[3];
  for (uint64_t k : tile.nonEmptyCells) {
    tile.summary.cellBox(k, lo, hi);
    if (filter.classifyBox(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]) >= 0) ++visible;
  }
  return visible;
}

Reply ViewService::Finish(Session& session, AnswerWriter& answer) {
  bool complete = true;
  for (const TileState& state : session.state) {
    // Cursor batches round every cell's share down, so a camera is complete
    // when each tile is spent or within one record per visible cell of its
    // share.
    if (!state.exhausted && state.delivered + state.visibleCells < state.share) complete = false;
  }
  AnswerHeader header;
  header.seq = session.seq;
  header.complete = complete;
  header.visiblePoints = session.visiblePoints;
  header.target = session.target;
  header.delivered = session.delivered;
  header.visibleCells = session.visibleCells;
  Reply reply;
  reply.contentType = "application/octet-stream";
  reply.body = answer.Finish(header);
  return reply;
}

}  // namespace viewer
}  // namespace vorlin
