#ifndef VORLIN_VIEWER_WEB_ASSETS_H
#define VORLIN_VIEWER_WEB_ASSETS_H

// The page's files, built into the program from tools/viewer/web at build
// time, so the installed command serves them from any folder.

#include <stddef.h>

namespace vorlin {
namespace viewer {

struct WebAsset {
  const char* path;  // URL path, e.g. "/viewer.js"
  const char* contentType;
  const unsigned char* data;
  size_t size;
};

extern const WebAsset kWebAssets[];
extern const size_t kWebAssetCount;

}  // namespace viewer
}  // namespace vorlin

#endif
