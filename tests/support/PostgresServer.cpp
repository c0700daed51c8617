#include "tests/support/PostgresServer.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace harness {

namespace {

// The newest server programs installed.
std::string ServerPrograms() {
    std::string found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/initdb") && bin > found) {
            found = bin;
        }
    }
    if (found.empty()) {
        throw std::runtime_error(
            "no PostgreSQL server programs under /usr/lib/postgresql/*/bin (Debian's postgresql "
            "package; scripts/install-deps installs it)");
    }
    return found;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

bool PostgresServer::Installed(std::string& why) {
    try {
        ServerPrograms();
        return true;
    } catch (const std::runtime_error& error) {
        why = error.what();
        return false;
    }
}

PostgresServer::PostgresServer(bool durableCommits) : durable(durableCommits) {
    bin = ServerPrograms();
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vantoir-pg-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("cannot make a folder for the server");
    }
    folder = pattern;
    asNobody = geteuid() == 0;
    if (asNobody) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr || chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            throw std::runtime_error("cannot give the server's folder to nobody");
        }
    }
    Run(Quoted(bin + "/initdb") + " -D " + Quoted(folder + "/data") +
            " -A trust -U vantoir --no-sync -E UTF8 --locale=C",
        true);
    Start();
}

PostgresServer::~PostgresServer() {
    try {
        Stop();
    } catch (const std::exception&) {
        // Removing the folder below is all that is left to do.
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void PostgresServer::Start() {
    // No TCP port at all: only the socket in the folder.
    Run(Quoted(bin + "/pg_ctl") + " -D " + Quoted(folder + "/data") + " -l " +
            Quoted(folder + "/server.log") + " -w -o " +
            Quoted("-c listen_addresses= -c fsync=" + std::string(durable ? "on" : "off") + " -k " +
                   folder) +
            " start",
        true);
    running = true;
}

void PostgresServer::Stop() {
    running = false;
    Run(Quoted(bin + "/pg_ctl") + " -D " + Quoted(folder + "/data") + " -m immediate -w stop",
        true);
}

void PostgresServer::RequirePassword(const std::string& role) {
    const std::string rules = folder + "/data/pg_hba.conf";
    std::ifstream in(rules);
    std::ostringstream old;
    old << in.rdbuf();
    in.close();
    std::ofstream(rules, std::ios::trunc) << "local all " << role << " scram-sha-256\n"
                                          << old.str();
    Run(Quoted(bin + "/pg_ctl") + " -D " + Quoted(folder + "/data") + " reload", true);
    // The server takes the rule a moment after the reload has returned: once
    // the role's login without a password is refused.
    for (int tries = 0; tries < 500; ++tries) {
        try {
            Run(Quoted(bin + "/psql") + " -X -w -h " + Quoted(folder) + " -U " + Quoted(role) +
                    " -d postgres -c 'SELECT 1'",
                false);
        } catch (const std::runtime_error&) {
            return;
        }
    }
    throw std::runtime_error("the server did not take the rule for " + role);
}

std::string PostgresServer::Run(const std::string& command, bool asServerUser) {
    const std::string line =
        (asServerUser && asNobody ? "runuser -u nobody -- " : "") + command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run: " + line);
    }
    std::string output;
    std::array<char, 4096> block;
    for (size_t got; (got = std::fread(block.data(), 1, block.size(), pipe)) > 0;) {
        output.append(block.data(), got);
    }
    if (pclose(pipe) != 0) {
        throw std::runtime_error("failed: " + line + "\n" + output);
    }
    return output;
}

std::string PostgresServer::Address(const std::string& database) {
    Query("postgres", "CREATE DATABASE " + database);
    return AddressAs(database, "vantoir");
}

std::string PostgresServer::AddressAs(const std::string& database, const std::string& user) const {
    return "postgresql:///" + database + "?host=" + folder + "&user=" + user;
}

std::string PostgresServer::Query(const std::string& database, const std::string& sql) {
    return Run(Quoted(bin + "/psql") + " -X -A -t -h " + Quoted(folder) + " -U vantoir -d " +
                   Quoted(database) + " -c " + Quoted(sql),
               false);
}

}  // namespace harness
