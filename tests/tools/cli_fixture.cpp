#include "cli_fixture.h"

namespace vorlin_test {

const SharedScene& Scene() {
  static SharedScene* scene = [] {
    SharedScene* s = new SharedScene;
    s->las = s->dir.file("scene.las");
    s->qzv = s->dir.file("scene.qzv");
    s->points = ExactScene(20000, 7);
    synth::WriteLas(s->las, s->points, ExactLasOptions());
    s->import = RunCli({"import", s->qzv, s->las});
    return s;
  }();
  return *scene;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace vorlin_test
