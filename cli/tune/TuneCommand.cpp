#include "cli/tune/TuneCommand.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "cli/ControlFlags.h"
#include "cli/ExitCodes.h"
#include "cli/SettingsFile.h"
#include "cli/tune/Token.h"
#include "cli/tune/TuneCommand.h"
#include "cli/tune/TuneServer.h"
#include "cli/tune/TuneSession.h"

extern char** environ;

namespace kcli {
namespace {

// The desktop's default browser, when there is a desktop. Failing to start
// one is no error: the address is printed anyway.
void openBrowser(const std::string& url) {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!(x && *x) && !(wayland && *wayland)) return;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    // Nor the listening socket, which would outlive the tool in it.
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
    // The browser must not inherit the blocked signals the server waits on.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    std::string prog = "xdg-open", arg = url;
    char* argv[] = {prog.data(), arg.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "xdg-open", &files, &attr, argv, environ) != 0)
        std::fprintf(
            stderr,
            "kestrelumen: note: could not start a browser (xdg-open); open the address above\n");
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
}

struct TuneFlags {
    TuneOptions options;
    ControlFlags controls;
    std::string depth, settings;
    CLI::App* command = nullptr;
};

int runTune(TuneFlags& f) {
    TuneOptions& o = f.options;
    if (!f.settings.empty()) {
        std::error_code ec;
        if (std::filesystem::exists(f.settings, ec))
            applySettings(*f.command, readSettingsFile(f.settings), f.controls.controls,
                          f.controls.key, f.controls.view);
        o.settingsFile = f.settings;
    }
    o.key = f.controls.finish();
    o.controls = f.controls.controls;
    if (!f.depth.empty()) o.depth = parseDepthFlag(f.depth);
    if (o.port < 0 || o.port > 65535)
        throw Failure(EXIT_BAD_INPUT,
                      "--port: " + std::to_string(o.port) + " is outside 1..65535 (0: a free one)");
    if (o.threads < 0 || o.threads > 1024)
        throw Failure(EXIT_BAD_INPUT,
                      "--threads: " + std::to_string(o.threads) + " is outside 1..1024");

    // Blocked before any thread starts, so every thread inherits the mask
    // and the signals reach only the wait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TuneSession session(o);
    const std::string token = newToken();
    TuneServer server(session, token);
    const int port = server.bind(o.port);

    std::atomic<bool> served{false}, failed{false};
    std::thread serving([&] {
        failed = !server.run();
        served = true;
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/?token=" + token;
    std::printf("open %s\n", url.c_str());
    std::fflush(stdout);
    if (!o.noBrowser) openBrowser(url);

    int signal = 0;
    while (!served && signal <= 0) {
        const timespec tick{0, 200 * 1000 * 1000};
        signal = sigtimedwait(&stopSignals, nullptr, &tick);
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }  // a browser launcher that has finished
    }
    // A stop that came before the server was listening would be lost.
    while (!served) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    serving.join();
    if (signal <= 0 && failed) throw Failure(EXIT_IO, "tune: the server stopped unexpectedly");
    return EXIT_OK;
}

}  // namespace

void addTuneCommand(CLI::App& app, int& exitCode) {
    auto f = std::make_shared<TuneFlags>();
    TuneOptions& o = f->options;
    CLI::App* c = app.add_subcommand(
        "tune",
        "Set the key by looking: serve a page on 127.0.0.1 that renders IN through the plug-in as "
        "the controls move, and shows the equivalent render command.");
    f->command = c;
    c->add_option("IN", o.input, "Input image, sequence (shot.####.exr) or clip")->required();
    addControlFlags(c, f->controls, true);
    c->add_option("--settings", f->settings,
                  "Settings file: the controls start from it when it exists (flags given "
                  "override it), and the page's \"save settings\" writes it (without it, the "
                  "page offers a download)");
    c->add_option("--frames", o.frames,
                  "Frames of a sequence or clip to offer: FIRST-LAST, N, or a comma list");
    c->add_option("--depth", f->depth,
                  "Render at 8, 16 or 32 (float) bits whatever the file holds");
    c->add_option("--port", o.port, "Port on 127.0.0.1 (default: a free one)");
    c->add_flag("--no-browser", o.noBrowser, "Only print the address; do not open a browser");
    c->add_option("-j,--threads", o.threads, "Threads for the pixel loop (default: all cores)");
    c->add_option("--plugin", o.plugin,
                  "Plug-in library to load (default: the one built with this tool)");
    c->footer(
        std::string("The address printed carries a fresh token; requests without it are refused.\n"
                    "Ctrl-C stops the server.\n\n") +
        EXIT_CODES_HELP);
    c->callback([f, &exitCode] { exitCode = runTune(*f); });
}

}  // namespace kcli
