#pragma once
// A PostgreSQL server of the test's own: a cluster made in a fresh temporary
// folder with the system's server programs (/usr/lib/postgresql/VERSION/bin),
// listening only on a socket in that folder (no TCP at all), stopped and
// removed when the object goes. The server refuses to run as root, so when
// the tests run as root the folder is given to the unprivileged user
// "nobody" and the server programs run as that user (runuser).
//
// Start throws std::runtime_error, saying what failed, when a server cannot
// be had (the programs missing, initdb failing).
//
// The tests' server does not force its writes to disk (fsync=off): they
// check what is stored, not how durably. A durable server (benchmarks)
// forces each commit to disk as a production server does.
//
// Stop and Start take the server down as a crash would (every session
// breaks, what was not committed is lost) and bring it back on the same
// socket with the same data, so that a test can take a database away from
// a running program and give it back.

#include <string>

namespace harness {

class PostgresServer {
  public:
    explicit PostgresServer(bool durable = false);
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // A libpq address of a database of its own on the server (made here).
    std::string Address(const std::string& database);
    // The address of database (made already) for another role: the server
    // trusts every role that exists, so no password is needed.
    std::string AddressAs(const std::string& database, const std::string& user) const;
    // Runs sql on database through psql; its output (unaligned, tuples only).
    std::string Query(const std::string& database, const std::string& sql);

    // Stops the server as a crash would (immediate: what its clients had
    // not committed is lost, their connections break), or starts it again
    // with the same data.
    void Stop();
    void Start();
    bool Running() const { return running; }

    // Makes role (made already) log in only with its password
    // (scram-sha-256) over the socket; every other role keeps logging in
    // without one.
    void RequirePassword(const std::string& role);

    // The folder of the server's socket (a libpq host).
    const std::string& SocketFolder() const { return folder; }

    // Whether the server programs are installed; why not in why.
    static bool Installed(std::string& why);

  private:
    std::string Run(const std::string& command, bool asServerUser);

    std::string folder;
    std::string bin;
    bool asNobody = false;
    bool durable = false;
    bool running = false;
};

}  // namespace harness
