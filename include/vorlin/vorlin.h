#ifndef VORLIN_VORLIN_H
#define VORLIN_VORLIN_H

// Everything a host needs: the facade, the readers and progress interfaces,
// the LAS/LAZ source reader and writer,
// the records, the frustum, filters and query handles, and the utilities.
#include "vorlin/box_filter.h"
#include "vorlin/camera.h"
#include "vorlin/cell_point.h"
#include "vorlin/codec_reader.h"
#include "vorlin/dataset.h"
#include "vorlin/export.h"
#include "vorlin/filter.h"
#include "vorlin/las_file_writer.h"
#include "vorlin/las_source.h"
#include "vorlin/progress.h"
#include "vorlin/qv_vorlin.h"
#include "vorlin/query.h"
#include "vorlin/reader.h"
#include "vorlin/status.h"
#include "vorlin/util.h"
#include "vorlin/view_frustum.h"

#endif
