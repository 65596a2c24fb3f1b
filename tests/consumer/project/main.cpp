// A host program built outside the project against the installed package.
#include <vorlin/vorlin.h>

#include <cstdio>

int main() {
  using namespace Zelvane::Vorlin;
  VorlinViewFrustum frustum;
  frustum.setNearUpperRight(1, 2, 3);
  VorlinViewFrustum copy(frustum);
  double x, y, z;
  copy.nearUpperRight(x, y, z);
  if (x != 1 || y != 2 || z != 3) return 1;
  // The LAS/LAZ source reader and writer are reachable from outside too.
  SourceReader reader;
  if (reader.Open(L"/nonexistent/file.laz") || reader.lastError().empty()) return 1;
  LasFileWriter writer;
  if (writer.Open(L"/nonexistent/dir/out.las", LasSourceInfo())) return 1;
  std::printf("consumer linked against libvorlin\n");
  return 0;
}
