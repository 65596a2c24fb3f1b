#include "engine/qv_vorlin_imp.h"

#include <wchar.h>

#include <new>

#include "format/qzv_layout.h"
#include "format/qzv_reader.h"

using Zelvane::Vorlin::QvVorlin;
namespace platform = vorlin::platform;
namespace format = vorlin::format;

QvVorlin* QvVorlin::create() { return new (std::nothrow) QvVorlinImp(); }

void QvVorlin::destroy(QvVorlin* engine) { delete engine; }

void QvVorlin::release() { destroy(this); }

QvVorlinImp::~QvVorlinImp() {
  close();
  if (m_clipFilter) {
    m_clipFilter->release();
    m_clipFilter = nullptr;
  }
}

// open() leaves the engine in one of three states:
//  - Closed (false) when the file cannot be opened;
//  - Held without tables (false) when the file is not a usable QZV file: the
//    magic is not "QZV", the version is above 5, or the header is damaged
//    (cut short, a dimension below 1, a grid whose cells or tables do not fit
//    in the file, version-5 edge arrays or a trailing block past the end).
//    The handle and the name are kept, isOpen() is true, no table or header
//    value of the file is taken over, and close() releases the handle;
//  - Open (true) otherwise. Cells whose records would run past the end of the
//    file keep only the records it holds, so no fetch reads beyond it.
bool QvVorlinImp::open(const wchar_t* fileName, int preloadBudget) {
  if (isOpen()) close();
  if (!fileName) return false;
  m_file = platform::File::Open(fileName, platform::kAccessRead, platform::kShareRead,
                                platform::Disposition::kOpenExisting);
  if (!m_file.IsValid()) return false;

  const size_t length = wcslen(fileName) + 1;
  m_fileName.reset(new wchar_t[length]);
  wmemcpy(m_fileName.get(), fileName, length);

  format::QzvHeader header;
  QzvCellTable cells;
  if (format::ReadQzvFileCells(m_file, header, cells) != format::QzvReadStatus::kOk) return false;

  m_version = header.version;
  m_revision = header.revision;
  m_fileId = header.fileId;
  m_grid = header.grid;
  for (int a = 0; a < 3; ++a) m_upperEdges[a] = std::move(header.upperEdges[a]);

  // The reader already put the cells in the engine's order (x fastest).
  const size_t n = size_t(m_grid.nx) * size_t(m_grid.ny) * size_t(m_grid.nz);
  m_cells = std::move(cells);
  m_cellsNx = m_grid.nx;
  m_cellsNy = m_grid.ny;
  m_cellsNz = m_grid.nz;
  m_totalPoints = 0;
  for (size_t i = 0; i < n; ++i) m_totalPoints += m_cells[i].count;
  m_unitsFactor = header.unitsFactor;
  m_attributeFlags = header.attributeFlags;

  m_reader.Open(m_file);
  if (m_loader.SetUp(m_grid.nx, m_grid.ny, m_grid.nz, preloadBudget))
    m_loader.Start(m_totalPoints, m_file, m_cells.data(), m_version <= format::kQzvVersion3);
  return true;
}

void QvVorlinImp::close() {
  m_loader.Stop();
  m_reader.Close();
  // Opened for reading only: a failed close loses nothing.
  if (m_file.IsValid()) (void)m_file.Close();
  m_file = platform::File();
  m_cells = QzvCellTable();
  m_cellsNx = m_cellsNy = m_cellsNz = 0;
  for (auto& edges : m_upperEdges) {
    edges.clear();
    edges.shrink_to_fit();
  }
  m_fileName.reset();
  m_planKeys = decltype(m_planKeys)();
  m_planScratch = decltype(m_planScratch)();
  m_ranges = decltype(m_ranges)();
}

uint32_t QvVorlinImp::RecordSize() const { return format::RecordSize(m_version); }
