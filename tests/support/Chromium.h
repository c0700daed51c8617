#pragma once
// A headless Chromium (Debian's chromium) of the test's own, driven over
// the DevTools protocol on a pipe (--remote-debugging-pipe: commands to its
// descriptor 3, answers and events from its descriptor 4, each a JSON text
// ended by a zero byte), so that no driver, no npm package and no port is
// needed. It runs with a fresh profile and every background service off
// (no update, sync or component check reaches for the network), as root
// without its sandbox.
//
//   harness::Chromium browser;
//   const std::string page = browser.Open("file:///tmp/page.html");  // a session
//   Json value = browser.Evaluate(page, "document.title");
//   browser.Events()  // every event so far: Network.requestWillBeSent, ...
//
// Every wait is bounded by the time-out given; a command that fails or
// goes unanswered throws std::runtime_error saying which.

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace harness {

class Chromium {
  public:
    using Json = nlohmann::json;

    // The browser's program; empty, with why, when none is installed.
    static std::string Program(std::string& why);

    explicit Chromium(int timeoutMs = 60000);
    ~Chromium();
    Chromium(const Chromium&) = delete;
    Chromium& operator=(const Chromium&) = delete;

    // Sends a command (to the page of session, or to the browser) and gives
    // its result.
    Json Call(const std::string& method, const Json& params = Json::object(),
              const std::string& session = std::string());
    // A new page of width x height pixels that has loaded url, with the
    // page, network, runtime and log events on; its session.
    std::string Open(const std::string& url, int width, int height);
    // The value of a JavaScript expression in the page.
    Json Evaluate(const std::string& session, const std::string& expression);
    // Every event received so far, in order.
    const std::vector<Json>& Events() const { return events; }

  private:
    void Send(const Json& message);
    Json Receive();  // the next message, events kept

    pid_t pid = -1;
    int toBrowser = -1;
    int fromBrowser = -1;
    int timeoutMs;
    int nextId = 1;
    std::string pending;  // bytes read past the last message
    std::vector<Json> events;
    std::string profile;
};

}  // namespace harness
