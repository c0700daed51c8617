#include "tests/support/Chromium.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

// Switches that keep the browser to the page: no first-run, update, sync or
// component traffic, which a closed network would refuse many times over.
const char* const kSwitches[] = {
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-sync",
    "--disable-component-update",
    "--disable-extensions",
    "--disable-default-apps",
    "--no-default-browser-check",
    "--disable-breakpad",
    "--mute-audio",
    "--hide-scrollbars",
    "--remote-debugging-pipe",
};

[[noreturn]] void StartInChild(const std::string& program, const std::string& profile, int commands,
                               int answers) {
    // The pipe's ends at the descriptors the browser reads and writes.
    const int in = dup(commands);
    const int out = dup(answers);
    dup2(in, 3);
    dup2(out, 4);
    const int quiet = open("/dev/null", O_RDWR);
    dup2(quiet, 0);
    dup2(quiet, 1);
    dup2(quiet, 2);
    for (int fd = 5; fd < 1024; ++fd) {
        close(fd);
    }
    std::vector<std::string> args = {program};
    args.insert(args.end(), std::begin(kSwitches), std::end(kSwitches));
    args.push_back("--user-data-dir=" + profile);
    args.push_back("about:blank");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

std::string Chromium::Program(std::string& why) {
    for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    why = "no /usr/bin/chromium (Debian's chromium package; scripts/install-deps installs it)";
    return std::string();
}

Chromium::Chromium(int timeout) : timeoutMs(timeout) {
    std::string why;
    const std::string program = Program(why);
    if (program.empty()) {
        throw std::runtime_error(why);
    }
    std::string pattern =
        std::filesystem::temp_directory_path().string() + "/vantoir-chromium-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("cannot make a profile folder");
    }
    profile = pattern;
    int commands[2];
    int answers[2];
    if (pipe(commands) != 0 || pipe(answers) != 0) {
        throw std::runtime_error("cannot make the pipes");
    }
    pid = fork();
    if (pid == 0) {
        close(commands[1]);
        close(answers[0]);
        StartInChild(program, profile, commands[0], answers[1]);
    }
    close(commands[0]);
    close(answers[1]);
    toBrowser = commands[1];
    fromBrowser = answers[0];
    if (pid < 0) {
        throw std::runtime_error("cannot start " + program);
    }
}

Chromium::~Chromium() {
    if (pid > 0) {
        try {
            Send({{"id", nextId++}, {"method", "Browser.close"}});
        } catch (const std::exception&) {
        }
        close(toBrowser);
        // The browser's end of the pipe closes as it ends.
        const auto deadline = Clock::now() + std::chrono::milliseconds(10000);
        char block[4096];
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            pollfd ready{fromBrowser, POLLIN, 0};
            if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0 ||
                read(fromBrowser, block, sizeof block) <= 0) {
                break;
            }
        }
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        close(fromBrowser);
    }
    std::error_code ignored;
    std::filesystem::remove_all(profile, ignored);
}

void Chromium::Send(const Json& message) {
    const std::string text = message.dump() + std::string(1, '\0');
    for (size_t sent = 0; sent < text.size();) {
        const ssize_t wrote = write(toBrowser, text.data() + sent, text.size() - sent);
        if (wrote <= 0) {
            throw std::runtime_error("the browser's pipe is closed");
        }
        sent += static_cast<size_t>(wrote);
    }
}

Chromium::Json Chromium::Receive() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t end = pending.find('\0');
        if (end != std::string::npos) {
            Json message = Json::parse(pending.substr(0, end));
            pending.erase(0, end + 1);
            if (message.contains("method")) {
                events.push_back(message);
            }
            return message;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready{fromBrowser, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) {
            throw std::runtime_error("the browser did not answer in time");
        }
        char block[65536];
        const ssize_t got = read(fromBrowser, block, sizeof block);
        if (got <= 0) {
            throw std::runtime_error("the browser ended");
        }
        pending.append(block, static_cast<size_t>(got));
    }
}

Chromium::Json Chromium::Call(const std::string& method, const Json& params,
                              const std::string& session) {
    const int id = nextId++;
    Json message = {{"id", id}, {"method", method}, {"params", params}};
    if (!session.empty()) {
        message["sessionId"] = session;
    }
    Send(message);
    for (;;) {
        const Json answer = Receive();
        if (answer.value("id", -1) != id) {
            continue;
        }
        if (answer.contains("error")) {
            throw std::runtime_error(method + ": " + answer["error"].dump());
        }
        return answer["result"];
    }
}

std::string Chromium::Open(const std::string& url, int width, int height) {
    const std::string target = Call("Target.createTarget", {{"url", "about:blank"}})["targetId"];
    const std::string session =
        Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"];
    for (const char* domain : {"Page.enable", "Network.enable", "Runtime.enable", "Log.enable"}) {
        Call(domain, Json::object(), session);
    }
    Call("Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}},
         session);
    const size_t before = events.size();
    Call("Page.navigate", {{"url", url}}, session);
    for (size_t seen = before;; ++seen) {
        while (seen >= events.size()) {
            Receive();
        }
        if (events[seen]["method"] == "Page.loadEventFired" &&
            events[seen].value("sessionId", "") == session) {
            return session;
        }
    }
}

Chromium::Json Chromium::Evaluate(const std::string& session, const std::string& expression) {
    const Json result =
        Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
    if (result.contains("exceptionDetails")) {
        throw std::runtime_error("the expression failed: " + result["exceptionDetails"].dump());
    }
    return result["result"]["value"];
}

}  // namespace harness
