#pragma once
// harness::PostgresSuite: the base of a suite of tests that run vantoir
// against a real PostgreSQL server, the suite's own, started once before its
// first test and stopped after its last. The Windows build reaches no
// database: no server is started for it (its tests skip themselves).

#include <gtest/gtest.h>

#include "tests/support/Harness.h"
#include "tests/support/PostgresServer.h"

namespace harness {

class PostgresSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!RunsWindowsBuild()) {
            server = new PostgresServer();
        }
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    static inline PostgresServer* server = nullptr;
};

}  // namespace harness
