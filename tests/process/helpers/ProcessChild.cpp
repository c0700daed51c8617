// A child for the tests of process/: does what its first argument says.
//   out TEXT ERRTEXT STATUS  writes TEXT to standard output and ERRTEXT to
//                            standard error, then exits with STATUS
//   channel TEXT NUMBER      writes TEXT to its parent's channel NUMBER (the
//                            last argument, added by the parent)
//   wait                     reads standard input until its end, then
//                            waits until it is ended

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "process/ParentChannel.h"

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "out" && argc == 5) {
        std::fputs(argv[2], stdout);
        std::fflush(stdout);
        std::fputs(argv[3], stderr);
        return std::atoi(argv[4]);
    }
    if (what == "channel" && argc == 4) {
        ParentChannel channel(argv[3]);
        return channel.Write(argv[2]) ? 0 : 3;
    }
    if (what == "wait") {
        // Standard input is empty: its end comes at once.
        while (std::getchar() != EOF) {
        }
        std::fputs("waiting\n", stdout);
        std::fflush(stdout);
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    return 2;
}
