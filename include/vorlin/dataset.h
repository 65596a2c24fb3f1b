#ifndef VORLIN_DATASET_H
#define VORLIN_DATASET_H

#include "vorlin/export.h"
#include "vorlin/qv_vorlin.h"

namespace Zelvane {
namespace Vorlin {

// Many QZV tiles read as one point cloud, through the engine interface.
//
// open() takes a catalog (JSON, see docs/dataset.md): it reads the catalog
// only, so opening costs milliseconds even for thousands of tiles; a tile's
// file is opened the first time a query needs it. The extents, centre, point
// count and attributes are the catalog's totals over the usable tiles.
// Records come as from one engine, their positions offsets from the
// dataset's centre (float offsets: far from the centre of a wide dataset
// they lose precision, as they would in one file of that size).
//
// Queries: a query sees the tiles whose catalog bounds its filter does not
// reject; getPoints splits the requested count over them in proportion to
// their visible points and gives shares a tile cannot fill to the others.
// A point set serves its tiles one after another; a cursor refines up to
// maxOpenTiles tiles at a time, taking the next tile as one runs dry.
// saveAsVersion is refused; getVersion gives the catalog's version.
//
// Memory: between calls at most maxOpenTiles tile engines are open (least
// recently used closed first), each with its cell tables and
// preloadBudget / maxOpenTiles bytes of preload; a live point set holds one
// more tile, and a live cursor up to maxOpenTiles more and up to 20 MB of
// records taken ahead when a batch is too small for a tile's cells. The
// catalog takes memory in proportion to its size (a few hundred bytes per
// tile).
//
// Failures: a tile that is missing, damaged or disagrees with the catalog
// (point count or bounds) is skipped and listed by failedTile(); the rest is
// served. open() is false when the catalog cannot be read or is not a valid
// catalog; catalogError() then says why.
//
// Threads: as an engine: one caller at a time for the dataset and the
// handles it made; separate datasets are independent.
class VORLIN_API VorlinDataset : public QvVorlin {
 public:
  // A new dataset object, owned by the caller and ended like an engine
  // (destroy() or release()); null when it cannot be allocated.
  // maxOpenTiles below 1 counts as 1.
  static VorlinDataset* createDataset(unsigned int maxOpenTiles);

  // Tiles listed in the open catalog, usable or not.
  virtual unsigned int tileCount() = 0;
  // The tile's catalog name and file (relative to the catalog), owned by the
  // dataset until close; false for an index out of range.
  virtual bool tileInfo(unsigned int index, const char** name, const char** file,
                        unsigned long long& points) = 0;
  // Tiles found unusable so far (in the catalog or when a query opened
  // them), in the order found. The texts are owned by the dataset until
  // close; false for an index out of range.
  virtual unsigned int failedTileCount() = 0;
  virtual bool failedTile(unsigned int index, const char** name, const char** reason) = 0;
  // Why the last open() failed; empty after a successful one. Owned by the
  // dataset, valid until the next open or close.
  virtual const char* catalogError() = 0;
  // Tiles open right now (at most maxOpenTiles between calls, see above).
  virtual unsigned int openTileCount() = 0;
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
