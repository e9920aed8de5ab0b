// patch-server: serves a directory over HTTP with range requests, logging every
// request. It is the demo's patch server and an operator's quick way to try a
// patch directory with the launcher before uploading it.
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "Usage: patch-server [--host ADDRESS] [--port N] DIRECTORY\n"
        "Serves DIRECTORY over HTTP (GET and HEAD, with ranges) and logs each request.\n"
        "Defaults: --host 127.0.0.1 --port 8642\n",
        out);
}

httplib::Server* g_server = nullptr;

void StopServer(int) {
    if (g_server) g_server->stop();
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    int port = 8642;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--host" || arg == "--port") && i + 1 < argc) {
            if (arg == "--host") host = argv[++i];
            else port = std::atoi(argv[++i]);
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && root.empty()) {
            root = arg;
        } else {
            std::fprintf(stderr, "patch-server: unexpected argument: %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (root.empty() || port <= 0 || port > 65535) {
        Usage(stderr);
        return 2;
    }
    if (!std::filesystem::is_directory(root)) {
        std::fprintf(stderr, "patch-server: %s is not a directory\n", root.c_str());
        return 1;
    }

    httplib::Server server;
    if (!server.set_mount_point("/", root)) {
        std::fprintf(stderr, "patch-server: cannot serve %s\n", root.c_str());
        return 1;
    }
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        const std::string range = req.get_header_value("Range");
        std::fprintf(stdout, "%s %s%s%s -> %d (%zu bytes)\n", req.method.c_str(), req.path.c_str(),
                     range.empty() ? "" : " ", range.c_str(), res.status, res.body.size());
        std::fflush(stdout);
    });
    g_server = &server;
    std::signal(SIGINT, StopServer);
    std::signal(SIGTERM, StopServer);
    std::fprintf(stdout, "patch-server: serving %s on http://%s:%d/\n", root.c_str(), host.c_str(),
                 port);
    std::fflush(stdout);
    if (!server.listen(host.c_str(), port)) {
        std::fprintf(stderr, "patch-server: cannot listen on %s:%d\n", host.c_str(), port);
        return 1;
    }
    return 0;
}
