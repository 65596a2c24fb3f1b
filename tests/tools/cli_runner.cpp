#include "cli_runner.h"

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

namespace vorlin_test {

namespace {

// Forks and runs the program with stdout to outFd and stderr to errFd.
pid_t Launch(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, int outFd, int errFd) {
  std::vector<char*> argv{const_cast<char*>(VORLIN_CLI_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

const SharedScene& Scene() {
  static SharedScene scene;
  static const bool built = synth::WriteLas(scene.las, scene.points, ExactLasOptions()) &&
                            (scene.import = RunCli({"import", scene.qzv, scene.las}), true);
  (void)built;
  return scene;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
  return CliChild(args, extraEnv).Finish();
}

CliChild::CliChild(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
  const char* tmp = getenv("TMPDIR");
  m_outPath = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlin-cli-XXXXXX";
  int outFd = mkstemp(&m_outPath[0]);
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  m_pid = Launch(args, extraEnv, outFd, pipeFds[1]);
  close(outFd);
  close(pipeFds[1]);
  m_errFd = pipeFds[0];
}

CliChild::~CliChild() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    WaitExit(m_pid);
  }
  if (m_errFd >= 0) close(m_errFd);
  unlink(m_outPath.c_str());
}

bool CliChild::WaitForStderr(const std::string& text) {
  char buffer[4096];
  while (m_err.find(text) == std::string::npos) {
    ssize_t got = read(m_errFd, buffer, sizeof buffer);
    if (got <= 0) return false;
    m_err.append(buffer, size_t(got));
  }
  return true;
}

void CliChild::Signal(int signal) { kill(m_pid, signal); }

CliResult CliChild::Finish() {
  char buffer[4096];
  ssize_t got;
  while ((got = read(m_errFd, buffer, sizeof buffer)) > 0) m_err.append(buffer, size_t(got));
  CliResult result;
  result.exitCode = WaitExit(m_pid);
  m_pid = -1;
  result.out = ReadText(m_outPath);
  result.err = m_err;
  return result;
}

bool DecodePng(const std::string& path, int& width, int& height, std::vector<unsigned char>& pixels) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  width = int(image.width);
  height = int(image.height);
  return true;
}

std::vector<synth::LasPoint> ExactScene(uint64_t count, uint32_t seed) {
  synth::SceneOptions options;
  options.points = count;
  options.seed = seed;
  synth::SceneGenerator generator(options);
  std::vector<synth::LasPoint> points;
  synth::LasPoint p;
  while (generator.Next(p)) {
    p.x = std::round(p.x / kGridStep) * kGridStep;
    p.y = std::round(p.y / kGridStep) * kGridStep;
    p.z = std::round(p.z / kGridStep) * kGridStep;
    points.push_back(p);
  }
  return points;
}

synth::LasOptions ExactLasOptions() {
  synth::LasOptions options;
  for (int a = 0; a < 3; ++a) {
    options.scale[a] = kGridStep;
    options.offset[a] = 0.0;
  }
  return options;
}

}  // namespace vorlin_test
