#pragma once
// ParentChannel: the writing end of the channel a parent process gave this
// one (ChildProcesses::Start with a channel), for what the child tells its
// parent apart from its output. One implementation per platform
// (ParentChannelPosix.cpp, ParentChannelWin32.cpp).

#include <memory>
#include <string>

class ParentChannel {
  public:
    // Standard output then goes to the parent byte for byte, as written (on
    // Windows no longer with CR LF for LF), so that the bytes the parent
    // reads are the bytes the child counted as shown.
    // number: as the parent passed it on the command line (a descriptor on
    // POSIX, a handle on Windows). A number that is no channel gives one that
    // writes nothing.
    explicit ParentChannel(const std::string& number);
    ~ParentChannel();
    ParentChannel(const ParentChannel&) = delete;
    ParentChannel& operator=(const ParentChannel&) = delete;

    // Writes text whole; false when the parent no longer reads (the channel
    // is then closed and writes nothing more).
    bool Write(const std::string& text);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
