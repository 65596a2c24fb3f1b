// Design note. The viewer is a small HTTP server in the program, built on
// cpp-httplib from the Debian archive: one header and a packaged library, a
// thread pool, request size limits and regex routes are all it needs, and it
// has none of civetweb's configuration surface. The page sends its camera
// (eye, target, up, field of view, aspect, near and far, in file
// coordinates) rather than frustum corners, and the server makes the corners
// with makeCameraFrustum, the helper the CLI and the Python package use: so
// there is one frustum construction to trust, and the page cannot send a
// twisted frustum. Answers are a compact binary block (view_service.h).
// Each file has its own engine behind its own lock; page sessions carry a
// sequence number, and a newer camera abandons the older one's refinement.

#include "view_command.h"

#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include <httplib.h>

#include "view_request.h"
#include "view_service.h"
#include "web_assets.h"

namespace vorlin {
namespace viewer {

const char kViewUsage[] =
    "usage: vorlin view FILE.qzv|CATALOG.json [MORE ...] [--port N] [--host ADDR] [--budget N]\n"
    "\n"
    "Serves the files, as tiles of one scene, to a point viewer in the browser\n"
    "and prints its address; Ctrl-C stops it. Only the named files are served.\n"
    "A dataset catalog (CATALOG.json, from 'vorlin dataset build') counts as one\n"
    "file: its tiles are read as the camera needs them.\n"
    "\n"
    "  --port N    port to listen on (default 8080; 0 picks a free one)\n"
    "  --host ADDR address to listen on (default 127.0.0.1, this machine only)\n"
    "  --budget N  the page's starting point budget (default 2000000)\n";

namespace {

struct Options {
  std::vector<std::string> files;
  std::string host = "127.0.0.1";
  int port = 8080;
  uint64_t budget = 2000000;
  bool help = false;
};

bool ParseCount(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 12) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value <= max;
}

// Empty on success, else the usage problem.
std::string ParseOptions(const std::vector<std::string>& words, Options& options) {
  bool positionalOnly = false;
  for (size_t i = 0; i < words.size(); ++i) {
    std::string word = words[i];
    if (positionalOnly || word.empty() || word[0] != '-') {
      options.files.push_back(word);
      continue;
    }
    if (word == "--") {
      positionalOnly = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      options.help = true;
      continue;
    }
    std::string value;
    const size_t eq = word.find('=');
    if (eq != std::string::npos) {
      value = word.substr(eq + 1);
      word = word.substr(0, eq);
    } else if (word == "--port" || word == "--host" || word == "--budget") {
      if (i + 1 >= words.size()) return word + " needs a value";
      value = words[++i];
    }
    uint64_t number = 0;
    if (word == "--port") {
      if (!ParseCount(value, 65535, number)) return "--port needs a number from 0 to 65535";
      options.port = static_cast<int>(number);
    } else if (word == "--host") {
      if (value.empty()) return "--host needs an address";
      options.host = value;
    } else if (word == "--budget") {
      if (!ParseCount(value, kMaxBudget, number) || number < kMinBudget) {
        return "--budget needs a number from " + std::to_string(kMinBudget) + " to " +
               std::to_string(kMaxBudget);
      }
      options.budget = number;
    } else {
      return "unknown option '" + word + "'";
    }
  }
  if (!options.help && options.files.empty()) return "name at least one .qzv file";
  return "";
}

void Answer(ViewService& service, Reply& reply, httplib::Response& res, double seconds) {
  res.status = reply.status;
  res.set_header("Cache-Control", "no-store");
  char timing[64];
  snprintf(timing, sizeof timing, "total;dur=%.2f", seconds * 1000.0);
  res.set_header("Server-Timing", timing);
  if (reply.status != 200) {
    res.set_content(reply.body, reply.contentType.c_str());
    return;
  }
  // Points are sent from the answer's own block, which goes back to the
  // service afterwards instead of being copied and freed.
  auto body = std::make_shared<std::string>(std::move(reply.body));
  res.set_content_provider(
      body->size(), reply.contentType,
      [body](size_t offset, size_t length, httplib::DataSink& sink) {
        return offset < body->size() &&
               sink.write(body->data() + offset, std::min(length, body->size() - offset));
      },
      [body, &service](bool) { service.Recycle(std::move(*body)); });
}

template <typename Call>
void Serve(ViewService& service, const httplib::Request& req, httplib::Response& res, Call call) {
  const auto start = std::chrono::steady_clock::now();
  Reply reply;
  try {
    reply = call(req.body);
  } catch (const std::bad_alloc&) {
    reply.status = 503;
    reply.body = "out of memory for this request\n";
  }
  Answer(service, reply, res,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

int RunView(const std::vector<std::string>& words) {
  Options options;
  const std::string problem = ParseOptions(words, options);
  if (options.help) {
    fputs(kViewUsage, stdout);
    return 0;
  }
  if (!problem.empty()) {
    fprintf(stderr, "vorlin view: %s\nRun 'vorlin view --help' for usage.\n", problem.c_str());
    return 2;
  }
  ViewService service;
  std::string error;
  if (!service.Open(options.files, uint64_t(1) << 30, error)) {
    fprintf(stderr, "vorlin view: %s\n", error.c_str());
    return 1;
  }

  httplib::Server server;
  server.set_payload_max_length(kMaxRequestBytes);
  server.set_keep_alive_max_count(1000);
  const std::string scene = service.SceneJson(options.budget);
  server.Get(R"(/[A-Za-z0-9._-]*)", [](const httplib::Request& req, httplib::Response& res) {
    for (size_t i = 0; i < kWebAssetCount; ++i) {
      if (req.path == kWebAssets[i].path) {
        res.set_content(reinterpret_cast<const char*>(kWebAssets[i].data), kWebAssets[i].size,
                        kWebAssets[i].contentType);
        res.set_header("Cache-Control", "no-store");
        return;
      }
    }
    res.status = 404;
    res.set_content("no such page\n", "text/plain");
  });
  server.Get("/api/scene", [&scene](const httplib::Request&, httplib::Response& res) {
    res.set_content(scene, "application/json");
  });
  server.Post("/api/view", [&service](const httplib::Request& req, httplib::Response& res) {
    Serve(service, req, res, [&service](const std::string& body) { return service.View(body); });
  });
  server.Post("/api/refine", [&service](const httplib::Request& req, httplib::Response& res) {
    Serve(service, req, res, [&service](const std::string& body) { return service.Refine(body); });
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) {
      res.set_content(res.status == 413 ? "request body too large\n" : "not found\n",
                      "text/plain");
    }
  });

  // A browser that closes a connection mid-answer must cost that answer
  // only, not the server.
  signal(SIGPIPE, SIG_IGN);
  // Ctrl-C is taken by a thread of its own, which stops the server cleanly;
  // the server's threads inherit the blocked mask.
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  int port = options.port;
  bool bound = port == 0 ? (port = server.bind_to_any_port(options.host)) > 0
                         : server.bind_to_port(options.host, port);
  if (!bound) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    fprintf(stderr, "vorlin view: cannot listen on %s port %d\n", options.host.c_str(),
            options.port);
    return 1;
  }
  std::thread waiter([&server, &stopSignals]() {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
  });
  const std::string shownHost =
      options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
  printf("vorlin view: http://%s:%d/  (%zu file%s; Ctrl-C stops)\n", shownHost.c_str(), port,
         service.tileCount(), service.tileCount() == 1 ? "" : "s");
  fflush(stdout);
  const bool listened = server.listen_after_bind();
  pthread_kill(waiter.native_handle(), SIGTERM);  // wakes the waiter if no signal came
  waiter.join();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (!listened) {
    fprintf(stderr, "vorlin view: the server stopped on an error\n");
    return 1;
  }
  return 0;
}

}  // namespace viewer
}  // namespace vorlin
